// Other, unprivileged users of the machine, for the attacks and checks that need them: made with
// useradd when the tests run as root, and a way to run part of a test as one of them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessel::testing {

struct OtherUser {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;  // the supplementary groups its processes run with
};

// The test user, made when missing; nothing (and why in `whyNot`) where no process of these
// tests can become another user.
std::optional<OtherUser> FindOtherUser(std::string& whyNot);

// Two unprivileged users who share a group besides their own, as colleagues with a shared folder
// are: the test user and a second one, each made when missing, with the group they share.
struct UsersSharingAGroup {
    OtherUser first;  // the test user
    OtherUser second;
    gid_t group;
};
std::optional<UsersSharingAGroup> FindUsersSharingAGroup(std::string& whyNot);

// Makes this process `user`: its groups, its group, then its user. For a child made to act as
// that user; false when the system refuses.
bool Become(const OtherUser& user);

// Runs `body` in a child process as `user` and returns what it returned: empty for success,
// else what went wrong. A child that cannot become the user reports that.
std::string RunAs(const OtherUser& user, const std::function<std::string()>& body);

// Hands `path` and everything under it to `user`.
void GiveTo(const std::string& path, const OtherUser& user);

}  // namespace tessel::testing
