// The reading of received values, the current center and the test double.
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/notifications.hpp"

namespace {

NotificationCenter* g_center = nullptr;

int Clamp(long long v) {
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

int FromString(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    long long v = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) break;  // clamped below either way
    }
    return Clamp(negative ? -v : v);
}

struct IntReading {
    int operator()(std::monostate) const { return 0; }
    int operator()(int64_t v) const { return Clamp(v); }
    int operator()(uint64_t v) const { return v > INT_MAX ? INT_MAX : static_cast<int>(v); }
    int operator()(double v) const {
        if (std::isnan(v)) return 0;
        if (v <= INT_MIN) return INT_MIN;
        if (v >= INT_MAX) return INT_MAX;
        return static_cast<int>(v);  // truncates toward zero
    }
    int operator()(bool v) const { return v ? 1 : 0; }
    int operator()(const std::string& v) const { return FromString(v); }
};

struct Text {
    std::string operator()(std::monostate) const { return "?"; }
    std::string operator()(int64_t v) const { return std::to_string(v); }
    std::string operator()(uint64_t v) const { return std::to_string(v); }
    std::string operator()(double v) const {
        char b[64];
        std::snprintf(b, sizeof b, "%g", v);
        return b;
    }
    std::string operator()(bool v) const { return v ? "true" : "false"; }
    std::string operator()(const std::string& v) const { return v; }
};

}  // namespace

int ReadUserInfoInt(const UserInfo& info, const std::string& key) {
    const auto it = info.find(key);
    return it == info.end() ? 0 : std::visit(IntReading{}, it->second);
}

bool ReadUserInfoBool(const UserInfo& info, const std::string& key) {
    return ReadUserInfoInt(info, key) != 0;
}

std::string UserInfoValueText(const UserInfoValue& value) { return std::visit(Text{}, value); }

void SetNotificationCenter(NotificationCenter* center) { g_center = center; }
NotificationCenter* CurrentNotificationCenter() { return g_center; }

