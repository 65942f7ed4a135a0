// Whole-file reading and atomic writing on POSIX.
#include "engine/file_util.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nubo {

namespace {

std::string errnoText() { return std::strerror(errno); }

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

Status readWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* out) {
  out->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status(StatusCode::kCannotOpen, "cannot open " + path + ": " + errnoText());
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return Status(StatusCode::kCannotOpen, "cannot open " + path + ": not a regular file");
  }
  std::vector<uint8_t> data;
  if (S_ISREG(st.st_mode)) {
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
      ::close(fd);
      return Status(StatusCode::kTooLarge, path + " is too large");
    }
    data.reserve(static_cast<size_t>(st.st_size));
  }
  uint8_t buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::string reason = errnoText();
      ::close(fd);
      return Status(StatusCode::kIoError, "cannot read " + path + ": " + reason);
    }
    if (n == 0) break;
    if (data.size() + static_cast<size_t>(n) > maxBytes) {
      ::close(fd);
      return Status(StatusCode::kTooLarge, path + " is too large");
    }
    data.insert(data.end(), buffer, buffer + n);
  }
  ::close(fd);
  *out = std::move(data);
  return Status::Ok();
}

Status writeFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                           bool overwrite) {
  if (path.empty()) return Status(StatusCode::kInvalidArgument, "empty output path");
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Status(StatusCode::kIoError, path + " is a folder");
    if (!overwrite) {
      return Status(StatusCode::kIoError, path + " exists (use --force to overwrite)");
    }
  }
  std::string temp = folderOf(path) + "/.nubo-XXXXXX";
  const int fd = ::mkstemp(&temp[0]);
  if (fd < 0) return Status(StatusCode::kIoError, "cannot write " + path + ": " + errnoText());
  const auto fail = [&](const std::string& what) {
    const std::string reason = errnoText();
    ::close(fd);
    ::unlink(temp.c_str());
    return Status(StatusCode::kIoError, what + " " + path + ": " + reason);
  };
  size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd, data + written, size - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write");
    }
    written += static_cast<size_t>(n);
  }
  // mkstemp creates the file private; give it the mode a plain create would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, 0666 & ~mask) != 0) return fail("cannot write");
  if (::fsync(fd) != 0) return fail("cannot write");
  if (::close(fd) != 0) {
    const std::string reason = errnoText();
    ::unlink(temp.c_str());
    return Status(StatusCode::kIoError, "cannot write " + path + ": " + reason);
  }
  int renamed;
  if (overwrite) {
    renamed = ::rename(temp.c_str(), path.c_str());
  } else {
    // link() refuses an existing target, so a file created meanwhile survives.
    renamed = ::link(temp.c_str(), path.c_str());
    if (renamed == 0) ::unlink(temp.c_str());
  }
  if (renamed != 0) {
    const std::string reason = errno == EEXIST ? "file exists (use --force to overwrite)"
                                               : errnoText();
    ::unlink(temp.c_str());
    return Status(StatusCode::kIoError, "cannot write " + path + ": " + reason);
  }
  return Status::Ok();
}

}  // namespace nubo
