// Whole-file reading and atomic writing on POSIX. Messages give the reason
// only; callers add the file name.
#include "fileio/file_util.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace nubo {

namespace {

std::string errnoText(int err) { return std::generic_category().message(err); }

// The file mode a newly created file would get: 0666 without the umask bits.
mode_t newFileMode() {
  // umask() can only be read by changing it, which races with other threads;
  // /proc tells it without side effects.
  std::ifstream proc("/proc/self/status");
  std::string line;
  while (std::getline(proc, line)) {
    if (line.compare(0, 6, "Umask:") == 0) {
      return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
  }
  return 0644;
}

// Moves temp to path without replacing an existing path.
int renameNoReplace(const std::string& temp, const std::string& path) {
  if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
  // The file system cannot rename exclusively: a hard link fails on an
  // existing name just as well.
  if (link(temp.c_str(), path.c_str()) == 0) {
    unlink(temp.c_str());
    return 0;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return -1;
  // No hard links either (e.g. FAT): check, then rename.
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) {
    errno = EEXIST;
    return -1;
  }
  return rename(temp.c_str(), path.c_str());
}

}  // namespace

Status readWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* out) {
  out->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status(StatusCode::kCannotOpen, "cannot open file: " + errnoText(errno));
  struct stat info;
  Status status;
  if (fstat(fd, &info) != 0) {
    status = Status(StatusCode::kCannotOpen, "cannot open file: " + errnoText(errno));
  } else if (!S_ISREG(info.st_mode)) {
    status = Status(StatusCode::kCannotOpen, "cannot open file: not a regular file");
  } else if (static_cast<uint64_t>(info.st_size) > maxBytes) {
    status = Status(StatusCode::kTooLarge, "file too large");
  } else {
    out->resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < out->size()) {
      const ssize_t n = read(fd, out->data() + done, out->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        status = Status(StatusCode::kIoError, "read error: " + errnoText(errno));
        break;
      }
      if (n == 0) break;  // the file shrank meanwhile: use what is there
      done += static_cast<size_t>(n);
    }
    out->resize(done);
  }
  close(fd);
  if (!status.ok()) out->clear();
  return status;
}

Status writeFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                           bool overwrite) {
  const size_t slash = path.rfind('/');
  if (path.empty() || slash + 1 == path.size()) {
    return Status(StatusCode::kInvalidArgument, "no file name given");
  }
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return Status(StatusCode::kIoError, "is a folder");
    if (!overwrite) return Status(StatusCode::kIoError, "file exists");
  }
  std::string temp = folder + "/.nubo-save-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Status(StatusCode::kIoError, "cannot create file: " + errnoText(errno));

  auto fail = [&temp](const std::string& what, int err) {
    unlink(temp.c_str());
    return Status(StatusCode::kIoError, what + errnoText(err));
  };
  // mkstemp creates the file private; give it the mode a plain create would.
  if (fchmod(fd, newFileMode()) != 0) {
    const int err = errno;
    close(fd);
    return fail("cannot create file: ", err);
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      close(fd);
      return fail("write error: ", err);
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) {
    const int err = errno;
    close(fd);
    return fail("write error: ", err);
  }
  if (close(fd) != 0) return fail("write error: ", errno);

  const int renamed = overwrite ? rename(temp.c_str(), path.c_str()) : renameNoReplace(temp, path);
  if (renamed != 0) {
    const int err = errno;
    if (err == EEXIST) {
      unlink(temp.c_str());
      return Status(StatusCode::kIoError, "file exists");
    }
    return fail("cannot write file: ", err);
  }
  // Make the new name durable too; the content is already safe if this fails.
  const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return Status::Ok();
}

Status writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           bool overwrite) {
  return writeFileAtomically(path, bytes.data(), bytes.size(), overwrite);
}

}  // namespace nubo
