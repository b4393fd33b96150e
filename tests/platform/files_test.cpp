// Files over the handheld's folder: paths and case, the platform's error codes, sharing,
// creation and truncation, positions, the root listing with the storage cards, and devices.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/handheld/devices.h"
#include "tests/support/handheld_fixture.h"

namespace {

using kestrel_testing::HandheldOptions;
using kestrel_testing::TempHandheld;
using namespace ce;

HANDLE openFile(const char16_t* path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(path, access, share, nullptr, disposition, FileAttributeNormal, nullptr);
}

std::string readAll(HANDLE h) {
  std::string out;
  char buf[7];  // small, so reads take several calls
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  return out;
}

std::u16string name(const WIN32_FIND_DATAW& d) { return d.cFileName; }

struct Entry {
  std::u16string name;
  DWORD attributes;
  DWORD size;
  bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
  std::string n(e.name.begin(), e.name.end());
  return os << "{" << n << ", 0x" << std::hex << e.attributes << std::dec << ", " << e.size << "}";
}

std::vector<Entry> list(const char16_t* pattern, DWORD* error = nullptr) {
  std::vector<Entry> out;
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(pattern, &d);
  if (h == InvalidHandleValue) {
    if (error) *error = GetLastError();
    return out;
  }
  do {
    out.push_back({name(d), d.dwFileAttributes, d.nFileSizeLow});
  } while (FindNextFileW(h, &d));
  EXPECT_EQ(GetLastError(), ErrorNoMoreFiles);
  EXPECT_TRUE(FindClose(h));
  return out;
}

TEST(Files, DevicePathsMapIntoTheFolderWithoutRegardToCase) {
  TempHandheld handheld;
  handheld.writeFile(u"\\Storage Card\\corvid.gz", "kernel bytes");
  for (const char16_t* path : {u"\\Storage Card\\corvid.gz", u"\\STORAGE CARD\\Corvid.GZ", u"/storage card/corvid.gz",
                               u"\\Storage Card\\.\\..\\Storage Card\\\\corvid.gz", u"Storage Card\\corvid.gz"}) {
    HANDLE h = openFile(path, GenericRead, FileShareRead, OpenExisting);
    ASSERT_NE(h, InvalidHandleValue) << std::string(path, path + std::char_traits<char16_t>::length(path));
    EXPECT_EQ(readAll(h), "kernel bytes");
    DWORD high = 1;
    EXPECT_EQ(GetFileSize(h, &high), 12u);
    EXPECT_EQ(high, 0u);
    EXPECT_TRUE(CloseHandle(h));
  }
  // A new file goes where the path says, in the existing folder's own spelling.
  HANDLE h = openFile(u"\\storage card\\New.txt", GenericWrite, 0, CreateNew);
  ASSERT_NE(h, InvalidHandleValue);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 3u);
  CloseHandle(h);
  EXPECT_EQ(handheld.readFile(u"\\Storage Card\\New.txt"), "abc");
}

TEST(Files, OpenFailuresCarryThePlatformsErrorCodes) {
  TempHandheld handheld;
  handheld.writeFile(u"\\Storage Card\\corvid.gz", "k");
  struct Case {
    const char16_t* path;
    DWORD access;
    DWORD disposition;
    DWORD error;
  } cases[] = {
      {u"\\Storage Card\\missing.gz", GenericRead, OpenExisting, ErrorFileNotFound},
      {u"\\Storage Card\\missing.gz", GenericWrite, TruncateExisting, ErrorFileNotFound},
      {u"\\No Card\\corvid.gz", GenericRead, OpenExisting, ErrorPathNotFound},
      {u"\\No Card\\corvid.gz", GenericWrite, CreateAlways, ErrorPathNotFound},
      {u"\\Storage Card\\corvid.gz\\inner", GenericRead, OpenExisting, ErrorPathNotFound},
      {u"\\Storage Card\\corvid.gz", GenericWrite, CreateNew, ErrorFileExists},
      {u"\\Storage Card", GenericRead, OpenExisting, ErrorAccessDenied},
      {u"\\Storage Card\\a*b", GenericRead, OpenExisting, ErrorInvalidName},
      {u"\\Storage Card\\corvid.gz", GenericRead, 9, ErrorInvalidParameter},
      {u"\\Storage Card\\corvid.gz", GenericRead, TruncateExisting, ErrorInvalidParameter},
      // The machine's own description is not part of the device's tree.
      {u"\\handheld.ini", GenericRead, OpenExisting, ErrorFileNotFound},
      {u"\\HANDHELD.INI", GenericWrite, CreateAlways, ErrorAccessDenied},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    HANDLE h = openFile(c.path, c.access, 0, c.disposition);
    EXPECT_EQ(h, InvalidHandleValue);
    EXPECT_EQ(GetLastError(), c.error) << std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path));
    if (h != InvalidHandleValue) CloseHandle(h);
  }
  EXPECT_EQ(handheld.readFile(u"\\handheld.ini").substr(0, 8), "platform");
}

TEST(Files, SharingFollowsBothHandlesModes) {
  TempHandheld handheld;
  handheld.writeFile(u"\\Storage Card\\f", "data");
  struct Case {
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool allowed;
  } cases[] = {
      {GenericRead, FileShareRead, GenericRead, FileShareRead, true},
      {GenericRead, FileShareRead | FileShareWrite, GenericWrite, FileShareRead, true},
      {GenericRead, FileShareRead, GenericWrite, FileShareRead, false},  // first does not share writing
      {GenericWrite, FileShareRead | FileShareWrite, GenericRead, FileShareRead, false},  // second refuses writer
      {GenericRead, FileShareRead, GenericRead, 0, false},                                // second shares nothing
      // No sharing at all refuses every second opener, even one that asks for no access.
      {GenericRead, 0, GenericRead, FileShareRead | FileShareWrite, false},
      {GenericRead, 0, 0, FileShareRead | FileShareWrite, false},
  };
  for (const auto& c : cases) {
    HANDLE first = openFile(u"\\Storage Card\\f", c.firstAccess, c.firstShare, OpenExisting);
    ASSERT_NE(first, InvalidHandleValue);
    SetLastError(0);
    HANDLE second = openFile(u"\\STORAGE CARD\\F", c.secondAccess, c.secondShare, OpenExisting);
    EXPECT_EQ(second != InvalidHandleValue, c.allowed)
        << std::hex << c.firstAccess << "/" << c.firstShare << " then " << c.secondAccess << "/" << c.secondShare;
    if (second != InvalidHandleValue) {
      CloseHandle(second);
    } else {
      EXPECT_EQ(GetLastError(), ErrorSharingViolation);
    }
    CloseHandle(first);
  }

  // An open file can be neither deleted nor moved; once closed it can.
  HANDLE h = openFile(u"\\Storage Card\\f", GenericRead, FileShareRead | FileShareWrite, OpenExisting);
  EXPECT_FALSE(DeleteFileW(u"\\Storage Card\\f"));
  EXPECT_EQ(GetLastError(), ErrorSharingViolation);
  EXPECT_FALSE(MoveFileW(u"\\Storage Card\\f", u"\\Storage Card\\g"));
  EXPECT_EQ(GetLastError(), ErrorSharingViolation);
  EXPECT_FALSE(CreateFileW(u"\\Storage Card\\f", GenericWrite, 0, nullptr, CreateAlways, 0, nullptr) !=
               InvalidHandleValue);
  EXPECT_EQ(GetLastError(), ErrorSharingViolation);
  CloseHandle(h);
  HANDLE again = openFile(u"\\Storage Card\\f", GenericRead, 0, OpenExisting);
  EXPECT_NE(again, InvalidHandleValue);
  CloseHandle(again);
  EXPECT_TRUE(DeleteFileW(u"\\Storage Card\\f"));
  EXPECT_FALSE(handheld.exists(u"\\Storage Card\\f"));
}

TEST(Files, DispositionsCreateTruncateAndReportWhatTheyFound) {
  TempHandheld handheld;
  handheld.writeFile(u"\\Storage Card\\old", "0123456789");
  struct Case {
    const char16_t* path;
    DWORD disposition;
    DWORD lastError;
    std::string after;  // the file once the handle is closed
  } cases[] = {
      {u"\\Storage Card\\old", CreateAlways, ErrorAlreadyExists, ""},
      {u"\\Storage Card\\old", OpenAlways, ErrorAlreadyExists, "0123456789"},
      {u"\\Storage Card\\old", OpenExisting, ErrorSuccess, "0123456789"},
      {u"\\Storage Card\\old", TruncateExisting, ErrorSuccess, ""},
      {u"\\Storage Card\\new", CreateAlways, ErrorSuccess, ""},
      {u"\\Storage Card\\new", OpenAlways, ErrorSuccess, ""},
      {u"\\Storage Card\\new", CreateNew, ErrorSuccess, ""},
  };
  for (const auto& c : cases) {
    handheld.writeFile(u"\\Storage Card\\old", "0123456789");
    DeleteFileW(u"\\Storage Card\\new");
    SetLastError(12345);
    HANDLE h = openFile(c.path, GenericRead | GenericWrite, 0, c.disposition);
    ASSERT_NE(h, InvalidHandleValue) << c.disposition;
    EXPECT_EQ(GetLastError(), c.lastError) << c.disposition;
    CloseHandle(h);
    EXPECT_EQ(handheld.readFile(c.path), c.after) << c.disposition;
  }
}

TEST(Files, ReadsAndWritesFollowTheFilePointer) {
  TempHandheld handheld;
  HANDLE h = openFile(u"\\Storage Card\\data", GenericRead | GenericWrite, 0, CreateNew);
  ASSERT_NE(h, InvalidHandleValue);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FileBegin), 6u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "world");
  // At the end a read succeeds with nothing.
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FileEnd), 6u);
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FileCurrent), 8u);
  ASSERT_TRUE(WriteFile(h, "R", 1, &n, nullptr));
  // Writing past the end leaves a gap of zeros.
  EXPECT_EQ(SetFilePointer(h, 14, nullptr, FileBegin), 14u);
  ASSERT_TRUE(WriteFile(h, "!", 1, &n, nullptr));
  EXPECT_EQ(GetFileSize(h, nullptr), 15u);
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FileBegin), InvalidSetFilePointer);
  EXPECT_EQ(GetLastError(), ErrorNegativeSeek);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FileCurrent), 15u);  // unchanged by the failed seek
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(handheld.readFile(u"\\Storage Card\\data"), std::string("hello woRld\0\0\0!", 15));

  // The handle is gone, and access the handle was not given is refused.
  EXPECT_FALSE(ReadFile(h, buf, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ErrorInvalidHandle);
  EXPECT_FALSE(CloseHandle(h));
  HANDLE r = openFile(u"\\Storage Card\\data", GenericRead, FileShareRead, OpenExisting);
  EXPECT_FALSE(WriteFile(r, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ErrorAccessDenied);
  CloseHandle(r);
}

TEST(Files, WritesFailOnceTheInjectedLimitIsReached) {
  TempHandheld handheld;
  HANDLE h = openFile(u"\\Storage Card\\out", GenericWrite, 0, CreateAlways);
  ASSERT_NE(h, InvalidHandleValue);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "12", 2, &n, nullptr));  // before the fault: not counted
  handheld.faults().writeFailAfter = 5;
  EXPECT_TRUE(WriteFile(h, "abc", 3, &n, nullptr));
  EXPECT_EQ(n, 3u);
  EXPECT_FALSE(WriteFile(h, "defg", 4, &n, nullptr));  // cut short: what fits is stored
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(GetLastError(), ErrorDiskFull);
  EXPECT_FALSE(WriteFile(h, "h", 1, &n, nullptr));
  EXPECT_EQ(n, 0u);
  handheld.faults().writeFailAfter = 0;
  EXPECT_TRUE(WriteFile(h, "!", 1, &n, nullptr));
  CloseHandle(h);
  EXPECT_EQ(handheld.readFile(u"\\Storage Card\\out"), "12abcde!");
}

TEST(Files, ReadOnlyFilesRefuseWritersAndDeletion) {
  TempHandheld handheld;
  HANDLE h = CreateFileW(u"\\Storage Card\\ro", GenericWrite, 0, nullptr, CreateNew, FileAttributeReadOnly, nullptr);
  ASSERT_NE(h, InvalidHandleValue);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "x", 1, &n, nullptr));  // the creating handle keeps its access
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesW(u"\\Storage Card\\ro"), FileAttributeArchive | FileAttributeReadOnly);
  EXPECT_EQ(openFile(u"\\Storage Card\\ro", GenericWrite, 0, OpenExisting), InvalidHandleValue);
  EXPECT_EQ(GetLastError(), ErrorAccessDenied);
  EXPECT_FALSE(DeleteFileW(u"\\Storage Card\\ro"));
  EXPECT_EQ(GetLastError(), ErrorAccessDenied);
  HANDLE r = openFile(u"\\Storage Card\\ro", GenericRead, 0, OpenExisting);
  EXPECT_NE(r, InvalidHandleValue);
  CloseHandle(r);
}

TEST(Files, DirectoriesMovesAndAttributes) {
  TempHandheld handheld;
  handheld.writeFile(u"\\Storage Card\\a.txt", "a");
  handheld.writeFile(u"\\Storage Card\\b.txt", "b");
  EXPECT_TRUE(CreateDirectoryW(u"\\Storage Card\\boot", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"\\storage card\\BOOT", nullptr));
  EXPECT_EQ(GetLastError(), ErrorAlreadyExists);
  EXPECT_FALSE(CreateDirectoryW(u"\\Nowhere\\boot", nullptr));
  EXPECT_EQ(GetLastError(), ErrorPathNotFound);

  EXPECT_FALSE(MoveFileW(u"\\Storage Card\\a.txt", u"\\Storage Card\\B.TXT"));
  EXPECT_EQ(GetLastError(), ErrorAlreadyExists);
  EXPECT_FALSE(MoveFileW(u"\\Storage Card\\none", u"\\Storage Card\\c.txt"));
  EXPECT_EQ(GetLastError(), ErrorFileNotFound);
  EXPECT_TRUE(MoveFileW(u"\\Storage Card\\a.txt", u"\\Storage Card\\boot\\c.txt"));
  EXPECT_EQ(handheld.readFile(u"\\Storage Card\\boot\\c.txt"), "a");
  EXPECT_FALSE(handheld.exists(u"\\Storage Card\\a.txt"));
  // A change of case alone renames the file.
  EXPECT_TRUE(MoveFileW(u"\\Storage Card\\b.txt", u"\\Storage Card\\B.txt"));
  EXPECT_EQ(list(u"\\Storage Card\\b*").at(0).name, u"B.txt");

  struct Case {
    const char16_t* path;
    DWORD attributes;
    DWORD error;
  } cases[] = {
      {u"\\", FileAttributeDirectory, 0},
      {u"\\Storage Card", FileAttributeDirectory | FileAttributeTemporary, 0},
      {u"\\Storage Card\\boot", FileAttributeDirectory, 0},
      {u"\\Storage Card\\boot\\c.txt", FileAttributeArchive, 0},
      {u"\\Storage Card\\gone", InvalidFileAttributes, ErrorFileNotFound},
      {u"\\Gone\\x", InvalidFileAttributes, ErrorPathNotFound},
      {u"\\handheld.ini", InvalidFileAttributes, ErrorFileNotFound},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(c.path), c.attributes);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(DeleteFileW(u"\\Storage Card\\boot"));
  EXPECT_EQ(GetLastError(), ErrorAccessDenied);
  EXPECT_FALSE(DeleteFileW(u"\\Storage Card\\gone"));
  EXPECT_EQ(GetLastError(), ErrorFileNotFound);
}

TEST(Files, RootListingShowsTheCardsFirstAsTemporaryDirectories) {
  HandheldOptions options;
  options.cards = {"Storage Card", "CF Card", "Missing Card"};
  TempHandheld handheld(options);
  std::filesystem::remove(handheld.hostPath(u"\\Missing Card"));  // configured, not inserted
  handheld.writeFile(u"\\a.txt", "12345");
  handheld.writeFile(u"\\Windows\\coredll.dll", "");
  handheld.writeFile(u"\\My Documents\\x", "");
  handheld.writeFile(u"\\Storage Card\\corvid.gz", "123");
  handheld.writeFile(u"\\Storage Card\\miniroot.fs.gz", "1234");
  handheld.writeFile(u"\\Storage Card\\kestrel.cnf", "1");

  const std::vector<Entry> root = {
      {u"Storage Card", FileAttributeDirectory | FileAttributeTemporary, 0},
      {u"CF Card", FileAttributeDirectory | FileAttributeTemporary, 0},
      {u"a.txt", FileAttributeArchive, 5},
      {u"My Documents", FileAttributeDirectory, 0},
      {u"Windows", FileAttributeDirectory, 0},
  };
  EXPECT_EQ(list(u"\\*.*"), root);
  EXPECT_EQ(list(u"\\*"), root);
  EXPECT_EQ(list(u"*.*"), root);
  EXPECT_EQ(list(u"\\Storage Card\\*.gz"),
            (std::vector<Entry>{{u"corvid.gz", FileAttributeArchive, 3}, {u"miniroot.fs.gz", FileAttributeArchive, 4}}));
  EXPECT_EQ(list(u"\\storage card\\KESTREL.CNF"), (std::vector<Entry>{{u"kestrel.cnf", FileAttributeArchive, 1}}));
  EXPECT_EQ(list(u"\\Storage Card\\?orvid.*"), (std::vector<Entry>{{u"corvid.gz", FileAttributeArchive, 3}}));

  struct Case {
    const char16_t* pattern;
    DWORD error;
  } failures[] = {
      {u"\\Storage Card\\*.elf", ErrorFileNotFound},
      {u"\\Missing Card\\*.*", ErrorPathNotFound},
      {u"\\handheld.ini", ErrorFileNotFound},
      {u"\\Storage Card\\", ErrorFileNotFound},
  };
  for (const auto& f : failures) {
    DWORD error = 0;
    EXPECT_TRUE(list(f.pattern, &error).empty());
    EXPECT_EQ(error, f.error);
  }
}

TEST(Files, NoCardMeansNoTemporaryDirectory) {
  TempHandheld handheld("HP Jornada 720 (US/UK)", {});
  handheld.writeFile(u"\\Storage Card\\corvid.gz", "");  // an ordinary folder of that name
  EXPECT_EQ(list(u"\\*.*"), (std::vector<Entry>{{u"Storage Card", FileAttributeDirectory, 0}}));
}

// A device that records what reaches it.
struct Probe {
  std::string written;
  std::vector<DWORD> codes;
  int closed = 0;
  DCB dcb;
};

class ProbeDevice : public handheld::Device {
 public:
  explicit ProbeDevice(Probe& p) : p_(p) {}
  bool read(void* buffer, DWORD toRead, DWORD& read) override {
    read = std::min<DWORD>(toRead, 2);
    std::memcpy(buffer, "OK", read);
    return true;
  }
  bool write(const void* buffer, DWORD toWrite, DWORD& written) override {
    p_.written.append(static_cast<const char*>(buffer), toWrite);
    written = toWrite;
    return true;
  }
  bool ioControl(DWORD code, void*, DWORD, void*, DWORD, DWORD* returned) override {
    p_.codes.push_back(code);
    if (returned) *returned = 0;
    if (code == 99) {
      SetLastError(ErrorNotSupported);
      return false;
    }
    return true;
  }
  bool setCommState(const DCB& dcb) override {
    p_.dcb = dcb;
    return true;
  }
  void close() override { ++p_.closed; }

 private:
  Probe& p_;
};

TEST(Files, DevicesOpenThroughTheirRegisteredOpener) {
  TempHandheld handheld;
  EXPECT_EQ(openFile(u"ZZZ1:", GenericRead, 0, OpenExisting), InvalidHandleValue);
  EXPECT_EQ(GetLastError(), ErrorFileNotFound);

  Probe probe;
  unsigned unit = 0;
  handheld::registerDeviceOpener(u"zzz", [&](const handheld::DeviceRequest& r) -> std::unique_ptr<handheld::Device> {
    unit = r.unit;
    if (r.unit == 0) {
      SetLastError(ErrorNotReady);
      return nullptr;
    }
    return std::make_unique<ProbeDevice>(probe);
  });
  EXPECT_EQ(openFile(u"ZZZ0:", GenericRead, 0, OpenExisting), InvalidHandleValue);
  EXPECT_EQ(GetLastError(), ErrorNotReady);

  HANDLE h = openFile(u"Zzz3:", GenericRead | GenericWrite, 0, OpenExisting);
  ASSERT_NE(h, InvalidHandleValue);
  EXPECT_EQ(unit, 3u);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "banner", 6, &n, nullptr));
  EXPECT_EQ(n, 6u);
  char buf[4];
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "OK");
  EXPECT_TRUE(DeviceIoControl(h, 1, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_FALSE(DeviceIoControl(h, 99, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), ErrorNotSupported);
  DCB dcb;
  dcb.BaudRate = 115200;
  EXPECT_TRUE(SetCommState(h, &dcb));
  EXPECT_FALSE(GetCommState(h, &dcb));  // not provided by this device
  EXPECT_EQ(GetLastError(), ErrorInvalidFunction);
  EXPECT_EQ(probe.written, "banner");
  EXPECT_EQ(probe.codes, (std::vector<DWORD>{1, 99}));
  EXPECT_EQ(probe.dcb.BaudRate, 115200u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(probe.closed, 1);

  // A device left open is closed with its machine.
  ASSERT_NE(openFile(u"ZZZ1:", GenericRead, 0, OpenExisting), InvalidHandleValue);
  handheld.reconfigure("");
  EXPECT_EQ(probe.closed, 2);
  handheld::registerDeviceOpener(u"ZZZ", nullptr);
  EXPECT_EQ(openFile(u"ZZZ1:", GenericRead, 0, OpenExisting), InvalidHandleValue);
}

TEST(Files, DeviceCallsOnFilesAndStaleHandlesFail) {
  TempHandheld handheld;
  handheld.writeFile(u"\\Storage Card\\f", "x");
  HANDLE h = openFile(u"\\Storage Card\\f", GenericRead, 0, OpenExisting);
  DWORD n = 0;
  EXPECT_FALSE(DeviceIoControl(h, 1, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), ErrorInvalidFunction);
  // Handles do not survive their machine.
  handheld.reconfigure("");
  char c;
  EXPECT_FALSE(ReadFile(h, &c, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ErrorInvalidHandle);
  WIN32_FIND_DATAW d;
  HANDLE find = FindFirstFileW(u"\\*", &d);
  EXPECT_FALSE(CloseHandle(find));  // a listing ends with FindClose
  EXPECT_TRUE(FindClose(find));
  EXPECT_FALSE(FindClose(find));
  EXPECT_EQ(GetLastError(), ErrorInvalidHandle);
}

}  // namespace
