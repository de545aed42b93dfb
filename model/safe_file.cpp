#include "model/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vir05 {

namespace {

const char kTextNotRegular[] = "это не обычный файл";

// Opens with the flags given; a name that is not a regular file once opened is refused.
int OpenRegular(const std::string& path, int flags, mode_t mode, std::string& error) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode);
    if (fd < 0) {
        // ENXIO: a FIFO that nobody reads; refused like any other FIFO.
        error = errno == ENXIO ? kTextNotRegular : SystemErrorText(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = kTextNotRegular;
        ::close(fd);
        return -1;
    }
    // Regular files never block; later reads and writes are the usual blocking ones.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::FILE* Stream(int fd, const char* mode, std::string& error) {
    std::FILE* f = ::fdopen(fd, mode);
    if (!f) {
        error = SystemErrorText(errno);
        ::close(fd);
    }
    return f;
}

std::string TempNameFor(const std::string& path) {
    static std::atomic<unsigned> serial{0};
    return path + "." + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".part";
}

}  // namespace

std::string SystemErrorText(int error) {
    switch (error) {
        case ENOSPC:
            return "нет места на диске";
        case EDQUOT:
            return "исчерпана дисковая квота";
        case EACCES:
        case EPERM:
            return "нет доступа";
        case EROFS:
            return "файловая система только для чтения";
        case ENOENT:
            return "нет такого файла или каталога";
        case ENOTDIR:
            return "часть пути не является каталогом";
        case EISDIR:
            return "это каталог";
        case ENAMETOOLONG:
            return "слишком длинное имя";
        case EIO:
            return "ошибка ввода-вывода";
        case EFBIG:
            return "файл слишком велик";
        default:
            return std::strerror(error);
    }
}

NodeKind ClassifyNode(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return NodeKind::Missing;
    if (S_ISLNK(st.st_mode)) return NodeKind::Link;
    if (S_ISREG(st.st_mode)) return NodeKind::Regular;
    return NodeKind::Other;
}

bool RemoveIfReplaceable(const std::string& path) {
    const NodeKind kind = ClassifyNode(path);
    if (kind == NodeKind::Missing) return true;
    if (!Replaceable(kind)) return false;
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

std::FILE* CreateForWriting(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = SystemErrorText(ENOENT);
        return nullptr;
    }
    // No O_TRUNC here: a device node must not be touched; a regular file is emptied below.
    int fd = OpenRegular(path, O_WRONLY | O_CREAT | O_NOFOLLOW, 0666, error);
    if (fd < 0 && ClassifyNode(path) == NodeKind::Link) {
        // A planted link: it goes, and the file is created in its place, exclusively, so that
        // a link put back in between is not followed either.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            error = SystemErrorText(errno);
            return nullptr;
        }
        fd = OpenRegular(path, O_WRONLY | O_CREAT | O_EXCL, 0666, error);
    }
    if (fd < 0) return nullptr;
    if (::ftruncate(fd, 0) != 0) {
        error = SystemErrorText(errno);
        ::close(fd);
        return nullptr;
    }
    return Stream(fd, "wb", error);
}

std::FILE* OpenRegularForReading(const std::string& path, std::string& error, std::size_t maxSize) {
    const int fd = OpenRegular(path, O_RDONLY, 0, error);
    if (fd < 0) return nullptr;
    if (maxSize > 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) > maxSize) {
            error = SystemErrorText(EFBIG);
            ::close(fd);
            return nullptr;
        }
    }
    return Stream(fd, "rb", error);
}

bool ReplaceFileWith(const std::string& path, std::string_view bytes, std::string& error) {
    if (path.empty()) {
        error = SystemErrorText(ENOENT);
        return false;
    }
    if (!Replaceable(ClassifyNode(path))) {
        error = kTextNotRegular;
        return false;
    }
    std::string temp;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temp = TempNameFor(path);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    int failure = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failure = n < 0 ? errno : ENOSPC;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && failure == 0) failure = errno;
    // The name is checked again just before it is replaced: what came there meanwhile (a
    // device node, a directory) is left alone.
    if (failure == 0 && !Replaceable(ClassifyNode(path))) failure = -1;
    if (failure == 0 && ::rename(temp.c_str(), path.c_str()) != 0) failure = errno;
    if (failure != 0) {
        ::unlink(temp.c_str());
        error = failure == -1 ? kTextNotRegular : SystemErrorText(failure);
        return false;
    }
    return true;
}

bool SameExistingFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace vir05
