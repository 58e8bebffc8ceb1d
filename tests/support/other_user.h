// A second, unprivileged user of the machine, for the attacks and checks that need one: made
// with useradd when the tests run as root, and a way to run part of a test as that user.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace tessel::testing {

struct OtherUser {
    uid_t uid;
    gid_t gid;
};

// The test user, made when missing; nothing (and why in `whyNot`) where no process of these
// tests can become another user.
std::optional<OtherUser> FindOtherUser(std::string& whyNot);

// Runs `body` in a child process as `user` and returns what it returned: empty for success,
// else what went wrong. A child that cannot become the user reports that.
std::string RunAs(const OtherUser& user, const std::function<std::string()>& body);

// Hands `path` and everything under it to `user`.
void GiveTo(const std::string& path, const OtherUser& user);

}  // namespace tessel::testing
