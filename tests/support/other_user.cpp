#include "tests/support/other_user.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "tests/support/child_process.h"

namespace tessel::testing {
namespace {

constexpr char kUserName[] = "tessel-other";

std::optional<OtherUser> Lookup() {
    const passwd* entry = ::getpwnam(kUserName);
    if (entry == nullptr) return std::nullopt;
    return OtherUser{entry->pw_uid, entry->pw_gid};
}

}  // namespace

std::optional<OtherUser> FindOtherUser(std::string& whyNot) {
    if (::geteuid() != 0) {
        whyNot = "only root can run part of a test as another user";
        return std::nullopt;
    }
    if (auto user = Lookup()) return user;
    const std::string command = std::string(
                                    "useradd --system --no-create-home --shell "
                                    "/usr/sbin/nologin ") +
                                kUserName + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 && !Lookup()) {
        whyNot = "useradd could not make the test user";
        return std::nullopt;
    }
    return Lookup();
}

std::string RunAs(const OtherUser& user, const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return "no pipe to the child";
    const pid_t pid = RunInChild([&] {
        ::close(fds[0]);
        std::string result;
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)
            result = "could not become the other user";
        else
            result = body();
        [[maybe_unused]] const auto put = ::write(fds[1], result.data(), result.size());
        ::close(fds[1]);
        return 0;
    });
    ::close(fds[1]);
    std::string result;
    char block[512];
    for (;;) {
        const ssize_t got = ::read(fds[0], block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        result.append(block, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    if (WaitForChild(pid) != 0) result += " (the child did not end normally)";
    return result;
}

void GiveTo(const std::string& path, const OtherUser& user) {
    [[maybe_unused]] const int rc = ::lchown(path.c_str(), user.uid, user.gid);
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path))) return;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        [[maybe_unused]] const int each = ::lchown(entry.path().c_str(), user.uid, user.gid);
}

}  // namespace tessel::testing
