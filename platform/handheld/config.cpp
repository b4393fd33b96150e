// handheld.ini: the machine's platform and its overrides, "key = value" lines with '#' and ';'
// comment lines. Every unknown key and every bad value is an error naming the file and line;
// nothing is ignored silently, so a typing error never leaves a test on the wrong machine.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/handheld/machine.h"
#include "platform/handheld/names.h"

namespace fs = std::filesystem;

namespace handheld {
namespace {

constexpr char iniFile[] = "handheld.ini";
// The machine a handheld.ini without a platform line describes.
constexpr char defaultPlatform[] = "Compaq iPAQ H3600";

// Code pages the simulated devices can be set to.
constexpr unsigned knownCodePages[] = {437, 850, 852, 866, 874, 932, 936, 949, 950, 1250, 1251,
                                       1252, 1253, 1254, 1255, 1256, 1257, 1258, 65001};

// Text from the file as an error shows it: bytes outside printable ASCII as \xNN, so that no
// control character reaches the terminal, and a long value cut to its first bytes.
std::string shown(std::string_view text) {
  constexpr std::size_t Longest = 64;
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < Longest; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      static const char digits[] = "0123456789abcdef";
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 0xF];
    }
  }
  if (text.size() > Longest) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

std::string trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

template <class T>
bool number(std::string_view s, T& out) {
  if (s.empty()) return false;
  if (s.front() == '+') s.remove_prefix(1);
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

template <class T>
bool numberIn(std::string_view s, T low, T high, T& out) {
  T v{};
  if (!number(s, v) || v < low || v > high) return false;
  out = v;
  return true;
}

// "512", "0x1".
bool hexOrDecimal(std::string_view s, std::uint32_t& out) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    auto [end, ec] = std::from_chars(s.data() + 2, s.data() + s.size(), out, 16);
    return ec == std::errc() && end == s.data() + s.size();
  }
  return number(s, out);
}

bool flag(std::string_view s, bool& out) {
  if (s == "0" || s == "1") {
    out = s == "1";
    return true;
  }
  return false;
}

// A card is a folder in the root: one name, nothing the device's file system refuses.
bool validCardName(const std::string& name, std::string& why) {
  if (name.empty()) {
    why = "empty card name";
    return false;
  }
  if (name != trim(name)) {
    why = "card name '" + shown(name) + "' begins or ends with blanks";
    return false;
  }
  for (unsigned char c : name) {
    if (c < 0x20 || std::string_view("\\/:*?\"<>|,").find(static_cast<char>(c)) != std::string_view::npos) {
      why = "card name '" + shown(name) + "' has a character a folder name cannot have";
      return false;
    }
  }
  if (name == "." || name == ".." || equalNoCase(utf8ToUtf16(name), u"handheld.ini")) {
    why = "card name '" + shown(name) + "' is not a folder name";
    return false;
  }
  return true;
}

bool parseCards(const std::string& value, std::vector<std::string>& cards, std::string& why) {
  cards.clear();
  if (value.empty()) return true;  // a machine without a storage card
  std::size_t start = 0;
  while (true) {
    std::size_t comma = value.find(',', start);
    std::string name = trim(std::string_view(value).substr(start, comma == std::string::npos ? std::string::npos
                                                                                            : comma - start));
    if (!validCardName(name, why)) return false;
    for (const auto& other : cards) {
      if (equalNoCase(utf8ToUtf16(other), utf8ToUtf16(name))) {
        why = "card '" + shown(name) + "' is listed twice";
        return false;
      }
    }
    cards.push_back(name);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool parsePageOrder(const std::string& value, Config& c) {
  if (value == "sequential") c.pageOrder = PageOrder::Sequential;
  else if (value == "reverse") c.pageOrder = PageOrder::Reverse;
  else if (value == "hostile") c.pageOrder = PageOrder::Hostile;
  else if (value.rfind("shuffle:", 0) == 0) {
    std::uint32_t seed = 0;
    if (!number(std::string_view(value).substr(8), seed)) return false;
    c.pageOrder = PageOrder::Shuffle;
    c.shuffleSeed = seed;
  } else {
    return false;
  }
  return true;
}

// "640x240x16"
bool parseDisplay(const std::string& value, Profile& p) {
  std::size_t x1 = value.find('x');
  std::size_t x2 = x1 == std::string::npos ? std::string::npos : value.find('x', x1 + 1);
  if (x2 == std::string::npos) return false;
  int w = 0, h = 0, bpp = 0;
  std::string_view v(value);
  if (!numberIn(v.substr(0, x1), 1, 4096, w) || !numberIn(v.substr(x1 + 1, x2 - x1 - 1), 1, 4096, h) ||
      !number(v.substr(x2 + 1), bpp)) {
    return false;
  }
  if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  p.width = w;
  p.height = h;
  p.bitsPerPixel = bpp;
  return true;
}

bool parseOsVersion(const std::string& value, Profile& p) {
  std::size_t dot = value.find('.');
  if (dot == std::string::npos) return false;
  int major = 0, minor = 0;
  std::string_view v(value);
  if (!numberIn(v.substr(0, dot), 1, 99, major) || !numberIn(v.substr(dot + 1), 0, 99, minor)) return false;
  p.osMajor = major;
  p.osMinor = minor;
  return true;
}

bool parseAddress(std::string_view text, std::array<std::uint8_t, 4>& out) {
  for (int i = 0; i < 4; ++i) {
    std::size_t dot = i < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return false;
    unsigned part = 0;
    if (!numberIn(text.substr(0, dot), 0u, 255u, part)) return false;
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(part);
    text.remove_prefix(i < 3 ? dot + 1 : dot);
  }
  return text.empty();
}

// "server 127.0.0.2 127.0.0.1; other 127.0.0.1"
bool parseHosts(const std::string& value, std::vector<HostEntry>& hosts, std::string& why) {
  hosts.clear();
  std::istringstream entries(value);
  std::string entry;
  while (std::getline(entries, entry, ';')) {
    std::istringstream words(entry);
    HostEntry host;
    if (!(words >> host.name)) continue;
    std::string address;
    while (words >> address) {
      std::array<std::uint8_t, 4> bytes{};
      if (!parseAddress(address, bytes)) {
        why = "bad address '" + address + "' for host '" + host.name + "' (A.B.C.D)";
        return false;
      }
      host.addresses.push_back(bytes);
    }
    if (host.addresses.empty()) {
      why = "host '" + host.name + "' has no address";
      return false;
    }
    hosts.push_back(std::move(host));
  }
  return true;
}

struct Line {
  int number;
  std::string key, value;
};

// What a key accepts, for the message of a bad value.
std::string expected(const std::string& key) {
  if (key == "com1") return "stdout, none or file:PATH";
  if (key == "page_order") return "sequential, reverse, shuffle:SEED or hostile";
  if (key == "code_page") return "a code page such as 932 or 1252";
  if (key == "os_version") return "MAJOR.MINOR";
  if (key == "display") return "WIDTHxHEIGHTxBPP";
  if (key == "dpi") return "a number from 1 to 1000";
  if (key == "timezone_bias" || key == "daylight_bias") return "minutes from -1440 to 1440";
  if (key == "network") return "on or off";
  if (key == "net_timeout") return "seconds from 1 to 3600";
  if (key.rfind("disk", 0) == 0 && key.find("_bytes_per_sector") != std::string::npos)
    return "a power of two from 128 to 65536";
  if (key.rfind("disk", 0) == 0 && (key.find("_flags") != std::string::npos || key.find("_bad_sector") != std::string::npos))
    return "a number, decimal or 0x hexadecimal";
  return "0 or 1";
}

// Applies one key (not `platform`); false with `why` on a bad value or unknown key.
bool apply(const Line& l, Config& c, std::string& why) {
  const std::string& k = l.key;
  const std::string& v = l.value;
  bool ok = true;
  if (k == "cards") {
    return parseCards(v, c.cards, why);
  } else if (k.size() == 5 && k.rfind("disk", 0) == 0 && k[4] >= '1' && k[4] <= '9') {
    c.disks[k[4] - '1'] = v;
  } else if (k.size() > 6 && k.rfind("disk", 0) == 0 && k[4] >= '1' && k[4] <= '9' && k[5] == '_') {
    DiskOptions& disk = c.diskOptions[k[4] - '1'];
    const std::string what = k.substr(6);
    std::uint32_t n = 0;
    if (what == "bytes_per_sector") {
      ok = hexOrDecimal(v, n) && n >= 128 && n <= 65536 && (n & (n - 1)) == 0;
      if (ok) disk.bytesPerSector = n;
    } else if (what == "flags") {
      ok = hexOrDecimal(v, n);
      if (ok) disk.flags = n;
    } else if (what == "bad_sector") {
      ok = hexOrDecimal(v, n);
      if (ok) disk.badSector = n;
    } else {
      why = "unknown key '" + k + "'";
      return false;
    }
  } else if (k == "com1") {
    ok = v == "stdout" || v == "none" || (v.rfind("file:", 0) == 0 && v.size() > 5);
    if (ok) c.com1 = v;
  } else if (k == "com1_settings_fail") {
    ok = flag(v, c.com1SettingsFail);
  } else if (k == "page_order") {
    ok = parsePageOrder(v, c);
  } else if (k == "code_page") {
    unsigned cp = 0;
    ok = number(std::string_view(v), cp) &&
         std::find(std::begin(knownCodePages), std::end(knownCodePages), cp) != std::end(knownCodePages);
    if (ok) c.profile.codePage = cp;
  } else if (k == "os_version") {
    ok = parseOsVersion(v, c.profile);
  } else if (k == "display") {
    ok = parseDisplay(v, c.profile);
  } else if (k == "dpi") {
    ok = numberIn(std::string_view(v), 1, 1000, c.profile.dpi);
  } else if (k == "timezone_bias") {
    ok = numberIn(std::string_view(v), -1440, 1440, c.timezoneBias);
  } else if (k == "daylight_bias") {
    ok = numberIn(std::string_view(v), -1440, 1440, c.daylightBias);
  } else if (k == "daylight") {
    ok = flag(v, c.daylight);
  } else if (k == "coredll") {
    ok = flag(v, c.coredll);
  } else if (k == "lock_pages") {
    ok = flag(v, c.lockPages);
  } else if (k == "unlock_pages") {
    ok = flag(v, c.unlockPages);
  } else if (k == "get_version_ex") {
    ok = flag(v, c.getVersionEx);
  } else if (k == "network") {
    ok = v == "on" || v == "off";
    if (ok) c.network = v == "on";
  } else if (k == "net_timeout") {
    ok = numberIn(std::string_view(v), 1, 3600, c.netTimeoutSeconds);
  } else if (k == "hosts") {
    return parseHosts(v, c.hosts, why);
  } else {
    why = "unknown key '" + shown(k) + "'";
    return false;
  }
  if (!ok) why = "bad value '" + shown(v) + "' for " + k + " (" + expected(k) + ")";
  return ok;
}

std::string pageOrderText(const Config& c) {
  switch (c.pageOrder) {
    case PageOrder::Sequential: return "sequential";
    case PageOrder::Reverse: return "reverse";
    case PageOrder::Hostile: return "hostile";
    case PageOrder::Shuffle: break;
  }
  return "shuffle:" + std::to_string(c.shuffleSeed);
}

}  // namespace

bool loadConfig(const fs::path& dir, Config& config, std::string& error) {
  fs::path file = dir / iniFile;
  std::string where = pathText(file);
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::error_code ec;
    error = where + (fs::exists(file, ec) ? ": can't read the file" : ": no such file");
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return parseConfig(content.str(), where, config, error);
}

bool parseConfig(const std::string& content, const std::string& where, Config& config, std::string& error) {
  std::istringstream in(content);
  std::vector<Line> lines;
  std::string text;
  int number = 0;
  while (std::getline(in, text)) {
    ++number;
    if (number == 1 && text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::string line = trim(text);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    std::size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? std::string() : trim(std::string_view(line).substr(0, eq));
    if (key.empty()) {
      error = where + ":" + std::to_string(number) + ": expected 'key = value'";
      return false;
    }
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const auto& seen : lines) {
      if (seen.key == key) {
        error = where + ":" + std::to_string(number) + ": '" + shown(key) + "' was already given on line " +
                std::to_string(seen.number);
        return false;
      }
    }
    lines.push_back({number, key, trim(std::string_view(line).substr(eq + 1))});
  }

  // The platform sets every profile value first, wherever its line stands; the other keys
  // then override.
  Config c;
  const Profile* profile = findProfile(defaultPlatform);
  for (const auto& l : lines) {
    if (l.key != "platform") continue;
    profile = findProfile(l.value);
    if (!profile) {
      error = where + ":" + std::to_string(l.number) + ": unknown platform '" + shown(l.value) + "'";
      return false;
    }
  }
  c.profile = *profile;
  for (const auto& l : lines) {
    if (l.key == "platform") continue;
    std::string why;
    if (!apply(l, c, why)) {
      error = where + ":" + std::to_string(l.number) + ": " + why;
      return false;
    }
  }
  config = std::move(c);
  return true;
}

bool saveConfig(const fs::path& dir, const Config& config, std::string& error) {
  fs::path file = dir / iniFile;
  std::string text;
  if (!configText(config, pathText(file), text, error)) return false;
  std::ofstream f(file, std::ios::binary | std::ios::trunc);
  f << text;
  f.flush();
  if (!f) {
    error = pathText(file) + ": can't write the file";
    return false;
  }
  return true;
}

bool configText(const Config& config, const std::string& where, std::string& text, std::string& error) {
  const Profile* base = findProfile(config.profile.name);
  if (!base) {
    error = where + ": unknown platform '" + config.profile.name + "'";
    return false;
  }
  std::ostringstream out;
  out << "# The simulated handheld of this folder; the folder is the device's root directory.\n";
  out << "platform = " << config.profile.name << "\n";
  std::string cards;
  for (const auto& card : config.cards) {
    std::string why;
    if (!validCardName(card, why)) {
      error = where + ": " + why;
      return false;
    }
    cards += (cards.empty() ? "" : ", ") + card;
  }
  out << "cards = " << cards << "\n";
  for (int k = 0; k < 9; ++k) {
    if (!config.disks[k].empty()) out << "disk" << k + 1 << " = " << config.disks[k] << "\n";
    const DiskOptions& disk = config.diskOptions[k];
    if (disk.bytesPerSector != DiskOptions{}.bytesPerSector)
      out << "disk" << k + 1 << "_bytes_per_sector = " << disk.bytesPerSector << "\n";
    if (disk.flags != DiskOptions{}.flags) out << "disk" << k + 1 << "_flags = 0x" << std::hex << disk.flags << std::dec << "\n";
    if (disk.badSector) out << "disk" << k + 1 << "_bad_sector = " << *disk.badSector << "\n";
  }
  out << "com1 = " << config.com1 << "\n";
  if (config.com1SettingsFail) out << "com1_settings_fail = 1\n";
  out << "page_order = " << pageOrderText(config) << "\n";
  // Values of the profile are written only where they differ from the platform's own.
  const Profile& p = config.profile;
  if (p.codePage != base->codePage) out << "code_page = " << p.codePage << "\n";
  if (p.osMajor != base->osMajor || p.osMinor != base->osMinor) {
    out << "os_version = " << p.osMajor << "." << p.osMinor << "\n";
  }
  if (p.width != base->width || p.height != base->height || p.bitsPerPixel != base->bitsPerPixel) {
    out << "display = " << p.width << "x" << p.height << "x" << p.bitsPerPixel << "\n";
  }
  if (p.dpi != base->dpi) out << "dpi = " << p.dpi << "\n";
  out << "timezone_bias = " << config.timezoneBias << "\n";
  out << "daylight_bias = " << config.daylightBias << "\n";
  out << "daylight = " << (config.daylight ? 1 : 0) << "\n";
  if (!config.coredll) out << "coredll = 0\n";
  if (!config.lockPages) out << "lock_pages = 0\n";
  if (!config.unlockPages) out << "unlock_pages = 0\n";
  if (!config.getVersionEx) out << "get_version_ex = 0\n";
  if (!config.network) out << "network = off\n";
  if (config.netTimeoutSeconds != Config().netTimeoutSeconds) out << "net_timeout = " << config.netTimeoutSeconds << "\n";
  if (!config.hosts.empty()) {
    out << "hosts =";
    for (std::size_t h = 0; h < config.hosts.size(); ++h) {
      out << (h ? "; " : " ") << config.hosts[h].name;
      for (const auto& a : config.hosts[h].addresses) {
        out << " " << unsigned(a[0]) << "." << unsigned(a[1]) << "." << unsigned(a[2]) << "." << unsigned(a[3]);
      }
    }
    out << "\n";
  }
  text = out.str();
  return true;
}

}  // namespace handheld
