#include "platform/handheld/machine.h"

#include <cstdio>
#include <cstdlib>

#include "platform/handheld/devices.h"
#include "platform/handheld/disk.h"
#include "platform/handheld/names.h"
#include "platform/handheld/state.h"

namespace handheld {

namespace {
std::unique_ptr<Machine>& slot() {
  static std::unique_ptr<Machine> machine;
  return machine;
}
}  // namespace

Machine::Machine(std::filesystem::path root, Config config)
    : root_(std::move(root)), config_(std::move(config)), state_(std::make_unique<State>()) {}

// Open handles go with the machine: devices are closed, files released.
Machine::~Machine() = default;

void registerBuiltInDevices() {
  registerComDevice();
  registerDisks();
}

void install(std::unique_ptr<Machine> machine) {
  registerBuiltInDevices();
  // The old machine is destroyed before the new one becomes current, so nothing of it can
  // be reached through current() while it is taken down.
  slot().reset();
  slot() = std::move(machine);
}

Machine& current() {
  if (!slot()) {
    std::fputs("handheld: no machine installed (handheld::install or handheld::open first)\n", stderr);
    std::abort();
  }
  return *slot();
}

bool installed() { return slot() != nullptr; }

bool open(const std::filesystem::path& dir, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) {
    error = pathText(dir) + ": no such handheld folder";
    return false;
  }
  Config config;
  if (!loadConfig(dir, config, error)) return false;
  install(std::make_unique<Machine>(dir, std::move(config)));
  return true;
}

}  // namespace handheld

namespace handheld {

namespace {
// Handles count up for the whole process in steps of four, as the platform's do; they never
// come near the all-ones invalid value.
std::uintptr_t nextHandle = 0x1000;
}  // namespace

ce::HANDLE HandleTable::add(std::unique_ptr<HandleObject> object) {
  std::uintptr_t value = nextHandle;
  nextHandle += 4;
  objects_.emplace(value, std::move(object));
  return reinterpret_cast<ce::HANDLE>(value);
}

std::unique_ptr<HandleObject> HandleTable::remove(ce::HANDLE handle) {
  auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == objects_.end()) return nullptr;
  std::unique_ptr<HandleObject> object = std::move(it->second);
  objects_.erase(it);
  return object;
}

}  // namespace handheld
