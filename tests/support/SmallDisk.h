#pragma once
// A small file system of its own (tmpfs) for full-disk tests. Mounting needs
// root (the test machines run as root); elsewhere Mounted() is false and the
// test skips with Why().

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::test {

class SmallDisk {
  public:
    explicit SmallDisk(std::size_t kilobytes) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-disk-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!::mkdtemp(buffer.data())) {
            why_ = std::string("mkdtemp: ") + std::strerror(errno);
            return;
        }
        path_ = buffer.data();
        const std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0755";
        if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) != 0)
            why_ = "mount of a small tmpfs refused (" + std::string(std::strerror(errno)) +
                   "): no full-disk test here";
        else
            mounted_ = true;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
        if (!path_.empty()) ::rmdir(path_.c_str());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& Why() const { return why_; }
    // The folder with a trailing '/'.
    std::string Folder() const { return path_ + "/"; }
    // Gives the file system a new size (space freed for the next try).
    bool Resize(std::size_t kilobytes) {
        const std::string options = "size=" + std::to_string(kilobytes) + "k";
        return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT, options.c_str()) == 0;
    }
    // Files in it of 0 bytes or with the given ending.
    std::vector<std::string> Leftovers(const std::string& ending = ".part") const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            const std::string name = entry.path().filename().string();
            if ((entry.is_regular_file() && entry.file_size() == 0) ||
                (name.size() >= ending.size() &&
                 name.compare(name.size() - ending.size(), ending.size(), ending) == 0))
                found.push_back(name);
        }
        return found;
    }

  private:
    std::string path_, why_;
    bool mounted_ = false;
};

}  // namespace velmora::test
