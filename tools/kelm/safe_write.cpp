// Atomic replacement by rename(2): within one file system a rename swaps the
// directory entry in one step, so a reader sees the old file or the new one,
// never a part. The temporary file therefore lives beside the target, not in
// /tmp, which may be another file system.
#include "safe_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kelm_cli {
namespace {

bool write_all(int fd, const unsigned char* p, size_t n, std::string* reason)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            *reason = std::strerror(errno);
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

mode_t default_mode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool write_file_safely(const std::string& path, const void* data, size_t size, std::string* reason)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (path == "-")
        return write_all(STDOUT_FILENO, bytes, size, reason);

    std::string target = path;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved))
            target = resolved;
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        *reason = "is a directory";
        return false;
    }
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + (slash == 0 ? 1 : 0));
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmpl = (dir == "/" ? "" : dir) + "/." + base + ".kelm-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        *reason = std::string("cannot create a file in ") + dir + ": " + std::strerror(errno);
        return false;
    }
    bool ok = write_all(fd, bytes, size, reason);
    if (ok && ::fchmod(fd, exists ? (st.st_mode & 07777) : default_mode()) != 0) {
        *reason = std::strerror(errno);
        ok = false;
    }
    if (ok && exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()))
        (void)!::fchown(fd, st.st_uid, st.st_gid);  // best effort: only root may give files away
    if (ok && ::fsync(fd) != 0) {
        *reason = std::strerror(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        *reason = std::strerror(errno);
        ok = false;
    }
    if (ok && ::rename(name.data(), target.c_str()) != 0) {
        *reason = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(name.data());
    return ok;
}

}  // namespace kelm_cli
