// A small file system of its own for tests of full disks and read-only directories: a tmpfs
// mounted on a fresh directory for the life of the object. Mounting needs root (or the right
// capability); where it is not allowed, Mounted() is false and Reason() says why, for the test
// to skip with that text.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace vir05::test {

class SmallTmpfs {
  public:
    explicit SmallTmpfs(std::size_t bytes) {
        char tmpl[] = "/tmp/vir05-tmpfs-XXXXXX";
        if (!mkdtemp(tmpl)) {
            reason_ = std::string("mkdtemp: ") + std::strerror(errno);
            return;
        }
        path_ = tmpl;
        const std::string options = "size=" + std::to_string(bytes);
        if (mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            reason_ = "cannot mount a tmpfs here (" + std::string(std::strerror(errno)) + ")";
            return;
        }
        mounted_ = true;
    }
    ~SmallTmpfs() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
        if (!path_.empty()) rmdir(path_.c_str());
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& Reason() const { return reason_; }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    // Makes the whole file system read-only: even root cannot write there then.
    bool MakeReadOnly() {
        return mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                     nullptr) == 0;
    }

  private:
    std::string path_;
    std::string reason_;
    bool mounted_ = false;
};

}  // namespace vir05::test
