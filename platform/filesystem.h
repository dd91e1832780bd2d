// Files and folders. Paths are Windows paths with backslashes, in UTF-8.
// Failures are reported as everywhere in the platform layer: the call's
// result says that it failed (false, null, an empty text, PathKind::Error),
// and LastError() says why.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

enum : std::uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrReparsePoint = 0x400,  // a symbolic link or junction
};

// What a path names. Error: the system could not tell (access denied, a
// network path that is gone, a name too long, ...); LastError says why.
enum class PathKind { Missing, File, Directory, Error };

// What the system tells a file or folder apart by: its volume and a 128-bit
// file id (`high` stays 0 where the system has only a 64-bit file index).
// Some volumes give none: every id is 0 there.
struct FileId {
  std::uint64_t volume = 0, high = 0, low = 0;
  bool Known() const { return high != 0 || low != 0; }
  auto operator<=>(const FileId&) const = default;
};

// One file or folder as the system identifies it.
struct FileInfo {
  FileId id;                            // identity of what the path leads to
  std::uint32_t links = 1;              // names the file has (hard links)
  bool reparse = false;                 // the name itself is a link
  long long size = 0;
  long long modified = 0;               // last write, in the system's units
};

struct DirEntry {
  std::string name;
  std::uint32_t attributes = 0;
  bool IsDir() const { return attributes & kAttrDirectory; }
};

class File {
 public:
  virtual ~File() = default;
  virtual long long Read(char* buf, std::size_t n) = 0;  // -1 on error, 0 at the end
  // Up to `n` bytes at `offset`, whatever was read before; -1 on error, 0 at
  // the end. Where the next Read starts after it is not defined.
  virtual long long ReadAt(long long offset, char* buf, std::size_t n) = 0;
  virtual bool Write(std::string_view data) = 0;
  virtual long long Size() = 0;  // -1 on error
  // Writes what the system still holds of the file through to the disk.
  virtual bool Flush() = 0;
  virtual bool Close() = 0;      // also done by the destructor
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual bool FileExists(std::string_view path) = 0;
  virtual PathKind Probe(std::string_view path) = 0;
  // Identity, link count and times of what `path` leads to, and whether the
  // name itself is a link.
  virtual bool Inspect(std::string_view path, FileInfo* info) = 0;
  virtual bool DirExists(std::string_view path) = 0;
  virtual bool MakeDir(std::string_view path) = 0;  // one level
  // The form of `path` that a command line can carry without quoting rules
  // of its own: the 8.3 short name on Windows. Empty when the path is missing.
  virtual std::string ShortPath(std::string_view path) = 0;
  // The long form of an existing path: every part under its full name, none
  // in its 8.3 short form. Empty when the path is missing.
  virtual std::string LongPath(std::string_view path) = 0;
  // Whether `path` names one place whatever the current folder and drive:
  // on Windows a drive letter path (X:\...) or a UNC path (\\server\share\...).
  virtual bool IsFullyQualified(std::string_view path) = 0;
  // Every entry of a folder except "." and "..", sorted by name. False when
  // the folder cannot be read, or its listing broke off: `out` then holds
  // the entries read before the error.
  virtual bool ListDir(std::string_view folder, std::vector<DirEntry>* out) = 0;
  virtual bool GetAttributes(std::string_view path, std::uint32_t* attrs) = 0;
  virtual bool SetAttributes(std::string_view path, std::uint32_t attrs) = 0;
  // Opens an existing file for reading; `exclusive` allows no other opener.
  virtual std::unique_ptr<File> OpenRead(std::string_view path, bool exclusive) = 0;
  // Creates a file, or empties an existing one, for writing without sharing.
  virtual std::unique_ptr<File> CreateWrite(std::string_view path) = 0;
  virtual bool RemoveFile(std::string_view path) = 0;
  // Moves `from` over `to` (replacing it), in one step that leaves either the
  // old or the new file under the name, written through to the disk.
  virtual bool ReplaceWith(std::string_view from, std::string_view to) = 0;
  // The system's reason for the last failure of this thread, as text.
  virtual std::string LastError() = 0;
  // The folder of the running program, ending in a backslash.
  virtual std::string ExecutableFolder() = 0;
  // The folder that 32-bit programs load DLLs from (the system folder, or
  // its 32-bit twin for a 64-bit program), without a trailing backslash;
  // empty when it cannot be had.
  virtual std::string SystemFolder() = 0;
};

// Helpers written once over the interface.
bool WriteWholeFile(FileSystem& fs, std::string_view path, std::string_view data);
bool ReadWholeFile(FileSystem& fs, std::string_view path, std::string* data);
// The ending of every temporary file the program makes: a run that ends
// before it can remove one leaves it behind, and the clean-ups find it by it.
inline constexpr std::string_view kTemporaryEnding = ".kestrin-tmp";
// Replaces the content of `destination` in one step: `write` fills a file
// made beside it under a name of its own
// ("<destination>.<process_id>-<n>.kestrin-tmp", n counting the calls of this
// process), which is then flushed to the disk and put in the destination's
// place. A failure at any point leaves the destination as it was and removes
// the temporary file; the file is closed on every path. `write` returns false
// when it fails, with fs.LastError() telling why. Returns the system's
// reason on failure.
std::optional<std::string> ReplaceFileContents(FileSystem& fs, std::string_view destination,
                                               const std::function<bool(File&)>& write,
                                               std::uint32_t process_id);
// Creates every missing folder of `path`.
bool MakeDirs(FileSystem& fs, std::string_view path);
// The folder part of a path, up to and including its last backslash.
std::string FolderPart(std::string_view path);
// The file name of a path: what follows its last backslash or slash.
std::string FileNamePart(std::string_view path);
// `path` as one piece of a command line: its short form, in double quotes
// when even that holds a blank (a volume without 8.3 names gives the long
// form back). Where the short form cannot be had (a missing path among
// them), `path` as given, quoted when it holds a blank.
std::string CommandLinePath(FileSystem& fs, std::string_view path);
// Quotes a piece of a command line when it holds a blank.
std::string QuoteIfBlank(std::string path);
// The Windows rule of FileSystem::IsFullyQualified: "X:\" followed by
// anything, or "\\server\share" (neither part empty, not the "\\?\" or
// "\\.\" device forms) with nothing or a backslash after it.
bool IsFullyQualifiedWindowsPath(std::string_view path);

}  // namespace kestrin
