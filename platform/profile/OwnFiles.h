#pragma once
// Whose a file is, for files the program writes in place of a name it was
// given (Setup.ini, the day's log). A program run as root must not be led by
// another user's symbolic link into changing a file of someone else's: a
// link is followed only when every link on the way and the file it ends at
// belong to the user running the program and that file is a regular one, as
// a dotfile manager's links are.

#include <string>

namespace velmora::platform {

struct LinkCheck {
    enum Kind {
        NotLink,  // no link (missing, or anything else): the name itself is used
        Own,      // a link that may be followed: target is where it ends
        Foreign,  // a link that must not be followed: why says why
    } kind = NotLink;
    std::string target;
    std::string why;
};

// folder: the end must be a folder of the user's instead of a regular file.
LinkCheck CheckLink(const std::string& path, bool folder = false);

// "name (uid N)", or "uid N" for a user without a name.
std::string UserName(unsigned uid);

}  // namespace velmora::platform
