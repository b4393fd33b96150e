// Files and devices of the handheld. The device's root directory is the machine's host folder;
// "\Storage Card\corvid.gz" is ROOT/Storage Card/corvid.gz. Names are compared without regard
// to case, as the device's file system does, whatever the host's file system does. The
// handheld.ini of the folder describes the machine and is not part of the device's tree.
#include "platform/files.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/handheld/devices.h"
#include "platform/handheld/handles.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/names.h"
#include "platform/handheld/state.h"

namespace fs = std::filesystem;

namespace ce {
namespace {
// Per thread, as on the device; the handheld runs one.
thread_local DWORD lastError = ErrorSuccess;
}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }
}  // namespace ce

namespace handheld {

using namespace ce;

// ---- devices --------------------------------------------------------------------------------

bool Device::read(void*, DWORD, DWORD& read) {
  read = 0;
  SetLastError(ErrorInvalidFunction);
  return false;
}
bool Device::write(const void*, DWORD, DWORD& written) {
  written = 0;
  SetLastError(ErrorInvalidFunction);
  return false;
}
bool Device::ioControl(DWORD, void*, DWORD, void*, DWORD, DWORD* returned) {
  if (returned) *returned = 0;
  SetLastError(ErrorInvalidFunction);
  return false;
}
bool Device::getCommState(DCB&) {
  SetLastError(ErrorInvalidFunction);
  return false;
}
bool Device::setCommState(const DCB&) {
  SetLastError(ErrorInvalidFunction);
  return false;
}

namespace {

std::u16string upperAscii(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
  }
  return out;
}

std::map<std::u16string, DeviceOpener>& openers() {
  static std::map<std::u16string, DeviceOpener> table;
  return table;
}

bool isAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// "COM1:", "dsk3:": three letters, the unit digit, a colon.
bool isDeviceName(std::u16string_view n) {
  return n.size() == 5 && isAsciiLetter(n[0]) && isAsciiLetter(n[1]) && isAsciiLetter(n[2]) && n[3] >= u'0' &&
         n[3] <= u'9' && n[4] == u':';
}

}  // namespace

void registerDeviceOpener(const std::u16string& prefix, DeviceOpener opener) {
  std::u16string key = upperAscii(prefix);
  if (opener) {
    openers()[key] = std::move(opener);
  } else {
    openers().erase(key);
  }
}

// ---- handle objects -------------------------------------------------------------------------

namespace {

struct FileObject : HandleObject {
  fs::path host;  // the host file, spelled as it is on disk: identifies the file for sharing
  DWORD access = 0;
  DWORD share = 0;
  bool hasStream = false;
  std::fstream stream;
  std::uint64_t position = 0;
};

struct DeviceObject : HandleObject {
  std::unique_ptr<Device> device;
  ~DeviceObject() override {
    if (device) device->close();
  }
};

struct FindObject : HandleObject {
  std::vector<WIN32_FIND_DATAW> entries;
  std::size_t next = 0;
};

HandleTable& handles() { return current().state().handles; }

// ---- paths ----------------------------------------------------------------------------------

constexpr char16_t iniName[] = u"handheld.ini";

struct Resolved {
  DWORD error = ErrorSuccess;  // set when the path cannot name anything
  fs::path host;               // the entry (existing) or where it would be created
  std::u16string name;         // last component, as on disk when it exists
  std::u16string requested;    // last component as the caller spelled it
  bool root = false;           // the path is the device's root directory
  bool atRoot = false;         // the last component lies in the root directory
  bool exists = false;
  bool directory = false;
  bool reserved = false;       // handheld.ini: not part of the device's tree
};

bool validComponent(std::u16string_view c) {
  if (!wellFormed(c)) return false;
  for (char16_t ch : c) {
    if (ch < 0x20) return false;
    switch (ch) {
      case u'<': case u'>': case u':': case u'"': case u'|': case u'?': case u'*':
        return false;
      default:
        break;
    }
  }
  return true;
}

// Splits a device path into its components; "." is dropped and ".." climbs, never above the
// root. Both '\' and '/' separate, as on the device.
bool splitPath(std::u16string_view path, std::vector<std::u16string>& parts, bool allowWildcardsLast) {
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t j = i;
    while (j < path.size() && path[j] != u'\\' && path[j] != u'/') ++j;
    std::u16string_view c = path.substr(i, j - i);
    bool last = j >= path.size();
    if (c.empty() || c == u".") {
      // nothing
    } else if (c == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      std::u16string part(c);
      if (last && allowWildcardsLast) {
        for (auto& ch : part) {
          if (ch == u'*' || ch == u'?') ch = u'a';
        }
        if (!validComponent(part)) return false;
        part = std::u16string(c);
      } else if (!validComponent(part)) {
        return false;
      }
      parts.push_back(std::move(part));
    }
    i = j + 1;
  }
  return true;
}

// The host spelling of `name` in `dir`: the exact spelling when present, else the first
// case-insensitive match in listing order.
bool lookup(const fs::path& dir, std::u16string_view name, bool atRoot, fs::path& found, std::u16string& spelled,
            bool& isDir) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  bool have = false;
  for (; !ec && it != end; it.increment(ec)) {
    std::u16string entry;
    try {
      entry = it->path().filename().u16string();
    } catch (...) {
      continue;  // a host name with no UTF-16 spelling is not visible on the device
    }
    if (atRoot && equalNoCase(entry, iniName)) continue;
    if (!equalNoCase(entry, name)) continue;
    bool exact = entry == name;
    if (!have || exact || lessNoCase(entry, spelled)) {
      std::error_code dec;
      found = it->path();
      spelled = entry;
      isDir = it->is_directory(dec);
      have = true;
      if (exact) break;
    }
  }
  return have;
}

Resolved resolve(Machine& m, std::u16string_view path) {
  Resolved r;
  std::vector<std::u16string> parts;
  if (path.empty()) {
    r.error = ErrorPathNotFound;
    return r;
  }
  if (!splitPath(path, parts, false)) {
    r.error = ErrorInvalidName;
    return r;
  }
  fs::path dir = m.root();
  if (parts.empty()) {
    r.root = r.exists = r.directory = true;
    r.host = dir;
    return r;
  }
  for (std::size_t k = 0; k + 1 < parts.size(); ++k) {
    fs::path found;
    std::u16string spelled;
    bool isDir = false;
    if (!lookup(dir, parts[k], k == 0, found, spelled, isDir) || !isDir) {
      r.error = ErrorPathNotFound;
      return r;
    }
    dir = found;
  }
  r.atRoot = parts.size() == 1;
  r.name = r.requested = parts.back();
  if (r.atRoot && equalNoCase(r.name, iniName)) {
    r.reserved = true;
    r.host = dir / fs::path(r.name);
    return r;
  }
  fs::path found;
  std::u16string spelled;
  bool isDir = false;
  if (lookup(dir, r.name, r.atRoot, found, spelled, isDir)) {
    r.exists = true;
    r.directory = isDir;
    r.host = found;
    r.name = spelled;
  } else {
    r.host = dir / fs::path(r.name);
  }
  return r;
}

bool isCard(const Machine& m, std::u16string_view name) {
  for (const auto& card : m.config().cards) {
    if (equalNoCase(utf8ToUtf16(card), name)) return true;
  }
  return false;
}

bool readOnly(const fs::path& p) {
  std::error_code ec;
  auto st = fs::status(p, ec);
  return !ec && (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

DWORD attributesOf(const Machine& m, const fs::path& host, const std::u16string& name, bool directory, bool atRoot) {
  if (directory) {
    // A mounted storage card shows in the root as a temporary directory.
    return FileAttributeDirectory | (atRoot && isCard(m, name) ? FileAttributeTemporary : 0);
  }
  return FileAttributeArchive | (readOnly(host) ? FileAttributeReadOnly : 0);
}

// Whether `p` is `dir` or lies below it.
bool within(const fs::path& p, const fs::path& dir) {
  auto a = p.begin(), b = dir.begin();
  for (; b != dir.end(); ++a, ++b) {
    if (a == p.end() || *a != *b) return false;
  }
  return true;
}

bool openedBelow(const fs::path& host) {
  bool open = false;
  handles().forEach<FileObject>([&](const FileObject& f) { open = open || within(f.host, host); });
  return open;
}

// A file already open refuses a new opener when either side would not share what the other
// asks for; a handle opened with no sharing at all refuses every second opener.
bool sharingConflict(const fs::path& host, DWORD access, DWORD share) {
  bool conflict = false;
  handles().forEach<FileObject>([&](const FileObject& f) {
    if (f.host != host) return;
    if (f.share == 0) conflict = true;
    if ((access & GenericRead) && !(f.share & FileShareRead)) conflict = true;
    if ((access & GenericWrite) && !(f.share & FileShareWrite)) conflict = true;
    if ((f.access & GenericRead) && !(share & FileShareRead)) conflict = true;
    if ((f.access & GenericWrite) && !(share & FileShareWrite)) conflict = true;
  });
  return conflict;
}

// Faults::writeFailAfter: how much of a write of `toWrite` bytes still fits under the limit;
// true when the write is cut short (the card is full or was pulled).
bool writeLimit(DWORD toWrite, DWORD& allowed) {
  Machine& m = current();
  FileState& files = m.state().files;
  long limit = m.faults().writeFailAfter;
  if (limit != files.armed) {
    files.armed = limit;
    files.written = 0;
  }
  allowed = toWrite;
  if (limit <= 0) return false;
  std::uint64_t left = files.written >= static_cast<std::uint64_t>(limit) ? 0 : limit - files.written;
  if (toWrite <= left) {
    files.written += toWrite;
    return false;
  }
  allowed = static_cast<DWORD>(left);
  files.written += left;
  return true;
}

HANDLE fail(DWORD error) {
  SetLastError(error);
  return InvalidHandleValue;
}

BOOL failed(DWORD error) {
  SetLastError(error);
  return False;
}

HANDLE openDevice(Machine& m, std::u16string_view name, DWORD access, DWORD share, DWORD disposition) {
  auto it = openers().find(upperAscii(name.substr(0, 3)));
  if (it == openers().end()) return fail(ErrorFileNotFound);
  SetLastError(ErrorSuccess);
  DeviceRequest request{m, static_cast<unsigned>(name[3] - u'0'), access, share, disposition};
  std::unique_ptr<Device> device = it->second(request);
  if (!device) {
    if (GetLastError() == ErrorSuccess) SetLastError(ErrorFileNotFound);
    return InvalidHandleValue;
  }
  auto object = std::make_unique<DeviceObject>();
  object->device = std::move(device);
  SetLastError(ErrorSuccess);
  return m.state().handles.add(std::move(object));
}

std::uint64_t hostSize(const fs::path& p) {
  std::error_code ec;
  auto size = fs::file_size(p, ec);
  return ec ? 0 : static_cast<std::uint64_t>(size);
}

FILETIME fileTime(const fs::path& p) {
  FILETIME t;
  std::error_code ec;
  auto when = fs::last_write_time(p, ec);
  if (ec) return t;
  auto sys = std::chrono::file_clock::to_sys(when);
  // 100 ns units since 1601-01-01.
  std::int64_t ticks = std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
                           sys.time_since_epoch())
                           .count() +
                       116444736000000000LL;
  if (ticks < 0) ticks = 0;
  t.dwLowDateTime = static_cast<DWORD>(ticks);
  t.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  return t;
}

WIN32_FIND_DATAW findData(const Machine& m, const fs::path& host, const std::u16string& name, bool directory,
                          bool atRoot) {
  WIN32_FIND_DATAW d;
  d.dwFileAttributes = attributesOf(m, host, name, directory, atRoot);
  d.ftLastWriteTime = d.ftCreationTime = d.ftLastAccessTime = fileTime(host);
  if (!directory) {
    std::uint64_t size = hostSize(host);
    d.nFileSizeLow = static_cast<DWORD>(size);
    d.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  }
  std::size_t n = std::min<std::size_t>(name.size(), MaxPath - 1);
  std::copy_n(name.begin(), n, d.cFileName);
  d.cFileName[n] = 0;
  return d;
}

}  // namespace
}  // namespace handheld

namespace ce {

using namespace handheld;

HANDLE CreateFileW(const WCHAR* name, DWORD access, DWORD shareMode, void*, DWORD disposition, DWORD flagsAndAttributes,
                   HANDLE) {
  if (!name) return fail(ErrorInvalidParameter);
  Machine& m = current();
  std::u16string_view n(name);
  if (isDeviceName(n)) return openDevice(m, n, access, shareMode, disposition);
  if (disposition < CreateNew || disposition > TruncateExisting) return fail(ErrorInvalidParameter);

  Resolved r = resolve(m, n);
  if (r.error) return fail(r.error);
  bool mustExist = disposition == OpenExisting || disposition == TruncateExisting;
  if (r.reserved) return fail(mustExist ? ErrorFileNotFound : ErrorAccessDenied);
  if (r.directory) return fail(ErrorAccessDenied);  // directories do not open as files

  bool write = (access & GenericWrite) != 0;
  bool truncate = disposition == CreateAlways || disposition == TruncateExisting;
  if (disposition == TruncateExisting && !write) return fail(ErrorInvalidParameter);
  std::error_code ec;
  if (r.exists) {
    if (disposition == CreateNew) return fail(ErrorFileExists);
    if (sharingConflict(r.host, access, shareMode)) return fail(ErrorSharingViolation);
    if ((write || truncate) && readOnly(r.host)) return fail(ErrorAccessDenied);
    if (truncate) {
      fs::resize_file(r.host, 0, ec);
      if (ec) return fail(ErrorAccessDenied);
    }
  } else {
    if (mustExist) return fail(ErrorFileNotFound);
    std::ofstream create(r.host, std::ios::binary);
    if (!create) return fail(ErrorAccessDenied);
  }

  auto f = std::make_unique<FileObject>();
  f->host = r.host;
  f->access = access;
  f->share = shareMode;
  if (access & (GenericRead | GenericWrite)) {
    std::ios::openmode mode = std::ios::binary | std::ios::in;
    if (write) mode |= std::ios::out;
    f->stream.open(r.host, mode);
    if (!f->stream.is_open()) return fail(ErrorAccessDenied);
    f->hasStream = true;
  }
  if (!r.exists && (flagsAndAttributes & FileAttributeReadOnly)) {
    // The new file is read-only for every later opener; this handle keeps its access.
    fs::permissions(r.host, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
  }
  bool replaced = r.exists && (disposition == CreateAlways || disposition == OpenAlways);
  HANDLE h = m.state().handles.add(std::move(f));
  SetLastError(replaced ? ErrorAlreadyExists : ErrorSuccess);
  return h;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void*) {
  if (read) *read = 0;
  if (auto* d = handles().find<DeviceObject>(file)) {
    DWORD got = 0;
    bool ok = d->device->read(buffer, toRead, got);
    if (read) *read = got;
    return ok ? True : False;
  }
  auto* f = handles().find<FileObject>(file);
  if (!f) return failed(ErrorInvalidHandle);
  if (!(f->access & GenericRead)) return failed(ErrorAccessDenied);
  if (toRead && !buffer) return failed(ErrorInvalidParameter);
  std::uint64_t size = hostSize(f->host);
  if (toRead == 0 || f->position >= size) return True;
  std::uint64_t want = std::min<std::uint64_t>(toRead, size - f->position);
  f->stream.clear();
  f->stream.seekg(static_cast<std::streamoff>(f->position));
  f->stream.read(static_cast<char*>(buffer), static_cast<std::streamsize>(want));
  auto got = static_cast<DWORD>(f->stream.gcount());
  f->stream.clear();
  f->position += got;
  if (read) *read = got;
  if (got < want) return failed(ErrorReadFault);
  return True;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void*) {
  if (written) *written = 0;
  if (auto* d = handles().find<DeviceObject>(file)) {
    DWORD put = 0;
    bool ok = d->device->write(buffer, toWrite, put);
    if (written) *written = put;
    return ok ? True : False;
  }
  auto* f = handles().find<FileObject>(file);
  if (!f) return failed(ErrorInvalidHandle);
  if (!(f->access & GenericWrite)) return failed(ErrorAccessDenied);
  if (toWrite && !buffer) return failed(ErrorInvalidParameter);
  if (toWrite == 0) return True;
  if (f->position + toWrite > 0xFFFFFFFFull) return failed(ErrorDiskFull);  // a 32-bit file system
  DWORD allowed = toWrite;
  bool cut = writeLimit(toWrite, allowed);
  if (allowed > 0) {
    f->stream.clear();
    f->stream.seekp(static_cast<std::streamoff>(f->position));
    f->stream.write(static_cast<const char*>(buffer), static_cast<std::streamsize>(allowed));
    // Flushed at once, so every other handle on the file reads what was written.
    f->stream.flush();
    if (!f->stream) {
      f->stream.clear();
      return failed(ErrorDiskFull);
    }
    f->position += allowed;
  }
  if (written) *written = allowed;
  if (cut) return failed(ErrorDiskFull);
  return True;
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
  auto* f = handles().find<FileObject>(file);
  if (!f) {
    SetLastError(handles().find<DeviceObject>(file) ? ErrorInvalidFunction : ErrorInvalidHandle);
    return InvalidFileSize;
  }
  std::uint64_t size = hostSize(f->host);
  if (high) *high = static_cast<DWORD>(size >> 32);
  if (static_cast<DWORD>(size) == InvalidFileSize) SetLastError(ErrorSuccess);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  auto* f = handles().find<FileObject>(file);
  if (!f) {
    SetLastError(handles().find<DeviceObject>(file) ? ErrorInvalidFunction : ErrorInvalidHandle);
    return InvalidSetFilePointer;
  }
  // Without a high word the distance is a signed 32-bit value; with one, the two make a
  // signed 64-bit distance.
  std::int64_t move = distanceHigh ? static_cast<std::int64_t>((static_cast<std::uint64_t>(
                                         static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                                         static_cast<std::uint32_t>(distance))
                                   : static_cast<std::int64_t>(distance);
  std::int64_t base = 0;
  switch (method) {
    case FileBegin: base = 0; break;
    case FileCurrent: base = static_cast<std::int64_t>(f->position); break;
    case FileEnd: base = static_cast<std::int64_t>(hostSize(f->host)); break;
    default:
      SetLastError(ErrorInvalidParameter);
      return InvalidSetFilePointer;
  }
  if ((move > 0 && base > INT64_MAX - move) || base + move < 0) {
    SetLastError(ErrorNegativeSeek);
    return InvalidSetFilePointer;
  }
  auto pos = static_cast<std::uint64_t>(base + move);
  if (!distanceHigh && pos >= 0xFFFFFFFFull) {
    SetLastError(ErrorInvalidParameter);
    return InvalidSetFilePointer;
  }
  f->position = pos;
  if (distanceHigh) *distanceHigh = static_cast<LONG>(pos >> 32);
  if (static_cast<DWORD>(pos) == InvalidSetFilePointer) SetLastError(ErrorSuccess);
  return static_cast<DWORD>(pos);
}

BOOL FlushFileBuffers(HANDLE file) {
  if (handles().find<DeviceObject>(file)) return True;
  auto* f = handles().find<FileObject>(file);
  if (!f) return failed(ErrorInvalidHandle);
  if (f->hasStream) f->stream.flush();
  return True;
}

BOOL CloseHandle(HANDLE object) {
  HandleTable& table = handles();
  // A listing is ended with FindClose, not CloseHandle.
  if (table.find<FindObject>(object) || !table.remove(object)) return failed(ErrorInvalidHandle);
  return True;
}

BOOL DeleteFileW(const WCHAR* name) {
  if (!name) return failed(ErrorInvalidParameter);
  Resolved r = resolve(current(), name);
  if (r.error) return failed(r.error);
  if (r.reserved || !r.exists) return failed(ErrorFileNotFound);
  if (r.directory) return failed(ErrorAccessDenied);
  if (openedBelow(r.host)) return failed(ErrorSharingViolation);
  if (readOnly(r.host)) return failed(ErrorAccessDenied);
  std::error_code ec;
  if (!fs::remove(r.host, ec)) return failed(ErrorAccessDenied);
  return True;
}

BOOL MoveFileW(const WCHAR* existing, const WCHAR* newName) {
  if (!existing || !newName) return failed(ErrorInvalidParameter);
  Machine& m = current();
  Resolved from = resolve(m, existing);
  if (from.error) return failed(from.error);
  if (from.reserved || !from.exists) return failed(ErrorFileNotFound);
  if (from.root) return failed(ErrorAccessDenied);
  Resolved to = resolve(m, newName);
  if (to.error) return failed(to.error);
  if (to.reserved || to.root) return failed(ErrorAccessDenied);
  // A new spelling of the same name is a rename; any other existing target is refused.
  bool sameEntry = to.exists && to.host == from.host;
  if (to.exists && !sameEntry) return failed(ErrorAlreadyExists);
  if (openedBelow(from.host)) return failed(ErrorSharingViolation);
  if (from.directory && within(to.host, from.host)) return failed(ErrorAccessDenied);
  std::error_code ec;
  if (sameEntry) {
    // A host that itself ignores case may take the new spelling for the old name, so the
    // entry goes by way of a name of its own.
    fs::path target = from.host.parent_path() / fs::path(to.requested);
    fs::path step;
    for (int k = 0;; ++k) {
      step = from.host;
      step += ".rename" + std::to_string(k);
      if (!fs::exists(step, ec)) break;
    }
    fs::rename(from.host, step, ec);
    if (ec) return failed(ErrorAccessDenied);
    fs::rename(step, target, ec);
    if (ec) {
      fs::rename(step, from.host, ec);
      return failed(ErrorAccessDenied);
    }
    return True;
  }
  fs::rename(from.host, to.host, ec);
  if (ec) return failed(ErrorAccessDenied);
  return True;
}

BOOL CreateDirectoryW(const WCHAR* name, void*) {
  if (!name) return failed(ErrorInvalidParameter);
  Resolved r = resolve(current(), name);
  if (r.error) return failed(r.error);
  if (r.reserved) return failed(ErrorAccessDenied);
  if (r.exists) return failed(ErrorAlreadyExists);
  std::error_code ec;
  if (!fs::create_directory(r.host, ec)) return failed(ErrorAccessDenied);
  return True;
}

DWORD GetFileAttributesW(const WCHAR* name) {
  if (!name) {
    SetLastError(ErrorInvalidParameter);
    return InvalidFileAttributes;
  }
  Machine& m = current();
  Resolved r = resolve(m, name);
  if (r.error || r.reserved || !r.exists) {
    SetLastError(r.error ? r.error : ErrorFileNotFound);
    return InvalidFileAttributes;
  }
  if (r.root) return FileAttributeDirectory;
  return attributesOf(m, r.host, r.name, r.directory, r.atRoot);
}

HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
  if (!pattern || !data) return fail(ErrorInvalidParameter);
  Machine& m = current();
  std::u16string_view p(pattern);
  std::size_t cut = p.find_last_of(u"\\/");
  std::u16string_view dirPart = cut == std::u16string_view::npos ? std::u16string_view() : p.substr(0, cut);
  std::u16string_view namePart = cut == std::u16string_view::npos ? p : p.substr(cut + 1);
  if (namePart.empty()) return fail(ErrorFileNotFound);
  std::vector<std::u16string> check;
  if (!splitPath(namePart, check, true)) return fail(ErrorInvalidName);

  Resolved dir = dirPart.empty() ? resolve(m, u"\\") : resolve(m, dirPart);
  if (dir.error) return fail(dir.error == ErrorInvalidName ? ErrorInvalidName : ErrorPathNotFound);
  if (!dir.exists || !dir.directory) return fail(ErrorPathNotFound);

  struct Entry {
    fs::path host;
    std::u16string name;
    bool directory;
  };
  std::vector<Entry> entries;
  std::error_code ec;
  for (fs::directory_iterator it(dir.host, ec), end; !ec && it != end; it.increment(ec)) {
    Entry e;
    try {
      e.name = it->path().filename().u16string();
    } catch (...) {
      continue;
    }
    if (dir.root && equalNoCase(e.name, iniName)) continue;
    std::error_code dec;
    e.host = it->path();
    e.directory = it->is_directory(dec);
    entries.push_back(std::move(e));
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return lessNoCase(a.name, b.name); });
  if (dir.root) {
    // Storage cards come first, in the order the machine mounts them.
    std::vector<Entry> ordered;
    for (const auto& card : m.config().cards) {
      std::u16string wanted = utf8ToUtf16(card);
      auto it = std::find_if(entries.begin(), entries.end(),
                             [&](const Entry& e) { return e.directory && equalNoCase(e.name, wanted); });
      if (it != entries.end()) {
        ordered.push_back(std::move(*it));
        entries.erase(it);
      }
    }
    for (auto& e : entries) ordered.push_back(std::move(e));
    entries = std::move(ordered);
  }

  auto listing = std::make_unique<FindObject>();
  for (const auto& e : entries) {
    if (wildcardMatch(namePart, e.name)) listing->entries.push_back(findData(m, e.host, e.name, e.directory, dir.root));
  }
  if (listing->entries.empty()) return fail(ErrorFileNotFound);
  *data = listing->entries[0];
  listing->next = 1;
  SetLastError(ErrorSuccess);
  return m.state().handles.add(std::move(listing));
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data) {
  auto* f = handles().find<FindObject>(find);
  if (!f) return failed(ErrorInvalidHandle);
  if (!data) return failed(ErrorInvalidParameter);
  if (f->next >= f->entries.size()) return failed(ErrorNoMoreFiles);
  *data = f->entries[f->next++];
  return True;
}

BOOL FindClose(HANDLE find) {
  HandleTable& table = handles();
  if (!table.find<FindObject>(find)) return failed(ErrorInvalidHandle);
  table.remove(find);
  return True;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                     void*) {
  if (auto* d = handles().find<DeviceObject>(device)) {
    return d->device->ioControl(code, in, inSize, out, outSize, returned) ? True : False;
  }
  if (returned) *returned = 0;
  return failed(handles().find<FileObject>(device) ? ErrorInvalidFunction : ErrorInvalidHandle);
}

BOOL GetCommState(HANDLE port, DCB* dcb) {
  auto* d = handles().find<DeviceObject>(port);
  if (!d) return failed(handles().find<FileObject>(port) ? ErrorInvalidFunction : ErrorInvalidHandle);
  if (!dcb) return failed(ErrorInvalidParameter);
  return d->device->getCommState(*dcb) ? True : False;
}

BOOL SetCommState(HANDLE port, const DCB* dcb) {
  auto* d = handles().find<DeviceObject>(port);
  if (!d) return failed(handles().find<FileObject>(port) ? ErrorInvalidFunction : ErrorInvalidHandle);
  if (!dcb) return failed(ErrorInvalidParameter);
  return d->device->setCommState(*dcb) ? True : False;
}

}  // namespace ce
