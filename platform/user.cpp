#include "platform/user.hpp"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

bool SwitchToUser(uid_t uid, std::string& error, std::string& note) {
    error.clear();
    note.clear();
    if (geteuid() != 0) {
        if (uid != 0 && uid != getuid())
            note = "the console user is uid " + std::to_string(uid) + "; not running as root, qz5d stays uid " +
                   std::to_string(getuid());
        return true;
    }
    if (uid == 0) return true;

    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) {
        error = "uid " + std::to_string(uid) + " has no user account";
        return false;
    }
    const std::string name = pw.pw_name;
    const gid_t gid = pw.pw_gid;
    const std::string home = pw.pw_dir;
    if (initgroups(name.c_str(), gid) != 0) {
        error = Failed("initgroups");
        return false;
    }
    if (setgid(gid) != 0) {
        error = Failed("setgid");
        return false;
    }
    if (setuid(uid) != 0) {
        error = Failed("setuid");
        return false;
    }

    uid_t ru, eu, su;
    gid_t rg, eg, sg;
    if (getresuid(&ru, &eu, &su) != 0 || ru != uid || eu != uid || su != uid) {
        error = "user ids are not all " + std::to_string(uid) + " after setuid";
        return false;
    }
    if (getresgid(&rg, &eg, &sg) != 0 || rg != gid || eg != gid || sg != gid) {
        error = "group ids are not all " + std::to_string(gid) + " after setgid";
        return false;
    }
    int expectedCount = 64;
    std::vector<gid_t> expected(static_cast<size_t>(expectedCount));
    if (getgrouplist(name.c_str(), gid, expected.data(), &expectedCount) < 0) {
        expected.resize(static_cast<size_t>(expectedCount));
        getgrouplist(name.c_str(), gid, expected.data(), &expectedCount);
    }
    expected.resize(static_cast<size_t>(expectedCount));
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 0)));
    if (count < 0 || getgroups(count, groups.data()) != count) {
        error = Failed("getgroups");
        return false;
    }
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    std::sort(groups.begin(), groups.end());
    groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
    if (groups != expected) {
        error = "the supplementary groups are not " + name + "'s";
        return false;
    }
    if (setuid(0) == 0) {
        error = "root could be had back after the switch";
        return false;
    }
    setenv("HOME", home.c_str(), 1);
    setenv("USER", name.c_str(), 1);
    setenv("LOGNAME", name.c_str(), 1);
    return true;
}
