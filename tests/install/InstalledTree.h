#pragma once
// The program installed by `cmake --install` into a temporary DESTDIR with
// the prefix /usr, laid out as a package lays it out.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/TestEnv.h"

namespace velmora::install {

namespace fs = std::filesystem;

class InstalledTree {
  public:
    InstalledTree() {
        std::string pattern = (fs::temp_directory_path() / "velmora-install-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return;
        root_ = pattern;
        // Other users (the one the program runs as) must reach into it.
        fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
        const fs::path log = root_ / "install.log";
        installed_ =
            test::run("DESTDIR='" + dest().string() +
                      "' '" VELMORA_CMAKE "' --install '" VELMORA_BUILD_DIR "' --prefix /usr >'" +
                      log.string() + "' 2>&1") == 0;
    }
    ~InstalledTree() {
        if (root_.empty()) return;
        // The tree may have been made read-only.
        test::run("chmod -R u+w '" + root_.string() + "'");
        fs::remove_all(root_);
    }
    InstalledTree(const InstalledTree&) = delete;
    InstalledTree& operator=(const InstalledTree&) = delete;

    bool installed() const { return installed_; }
    const fs::path& root() const { return root_; }
    fs::path dest() const { return root_ / "dest"; }
    fs::path usr() const { return dest() / "usr"; }
    fs::path executable() const { return usr() / "bin/velmora"; }
    fs::path share() const { return usr() / "share"; }

  private:
    fs::path root_;
    bool installed_ = false;
};

}  // namespace velmora::install
