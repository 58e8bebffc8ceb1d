#include "tests/support/other_user.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/child_process.h"

namespace tessel::testing {
namespace {

constexpr char kUserName[] = "tessel-other";
constexpr char kSecondUserName[] = "tessel-peer";
constexpr char kSharedGroupName[] = "tessel-shared";
constexpr int kAttempts = 5;
constexpr useconds_t kRetryMicroseconds = 200'000;

std::optional<OtherUser> Lookup(const char* name) {
    const passwd* entry = ::getpwnam(name);
    if (entry == nullptr) return std::nullopt;
    return OtherUser{entry->pw_uid, entry->pw_gid, {}};
}

std::optional<gid_t> LookupGroup(const char* name) {
    const group* entry = ::getgrnam(name);
    if (entry == nullptr) return std::nullopt;
    return entry->gr_gid;
}

bool Quietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The user of that name, made (without a home folder or a shell) when missing.
std::optional<OtherUser> FindOrMakeUser(const char* name, std::string& whyNot) {
    if (::geteuid() != 0) {
        whyNot = "only root can run part of a test as another user";
        return std::nullopt;
    }
    // Tests run side by side may make the same user at once: the one that loses the race finds
    // it made by the other.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (auto user = Lookup(name)) return user;
        Quietly(std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") + name);
        if (auto user = Lookup(name)) return user;
        ::usleep(kRetryMicroseconds);
    }
    whyNot = std::string("useradd could not make the test user ") + name;
    return std::nullopt;
}

std::optional<gid_t> FindOrMakeGroup(const char* name, std::string& whyNot) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (const auto group = LookupGroup(name)) return group;
        Quietly(std::string("groupadd --system ") + name);
        if (const auto group = LookupGroup(name)) return group;
        ::usleep(kRetryMicroseconds);
    }
    whyNot = std::string("groupadd could not make the test group ") + name;
    return std::nullopt;
}

}  // namespace

std::optional<OtherUser> FindOtherUser(std::string& whyNot) {
    return FindOrMakeUser(kUserName, whyNot);
}

std::optional<UsersSharingAGroup> FindUsersSharingAGroup(std::string& whyNot) {
    auto first = FindOrMakeUser(kUserName, whyNot);
    auto second = first ? FindOrMakeUser(kSecondUserName, whyNot) : std::nullopt;
    if (!second) return std::nullopt;
    const auto group = FindOrMakeGroup(kSharedGroupName, whyNot);
    if (!group) return std::nullopt;
    first->groups = {*group};
    second->groups = {*group};
    return UsersSharingAGroup{*first, *second, *group};
}

bool Become(const OtherUser& user) {
    return ::setgroups(user.groups.size(), user.groups.data()) == 0 && ::setgid(user.gid) == 0 &&
           ::setuid(user.uid) == 0;
}

std::string RunAs(const OtherUser& user, const std::function<std::string()>& body) {
    return TextFromChild(
        [&] { return Become(user) ? body() : std::string("could not become the other user"); });
}

void GiveTo(const std::string& path, const OtherUser& user) {
    [[maybe_unused]] const int rc = ::lchown(path.c_str(), user.uid, user.gid);
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path))) return;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        [[maybe_unused]] const int each = ::lchown(entry.path().c_str(), user.uid, user.gid);
}

}  // namespace tessel::testing
