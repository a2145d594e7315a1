#include "testing/recording_doubles.hpp"

bool RecordingNotificationCenter::AddObserver(void* observer, NotificationCallback callback,
                                              const std::string& name, const std::string& object) {
    observers_.push_back({observer, callback, name, object});
    return true;
}

void RecordingNotificationCenter::Post(const std::string& name, const std::string& object,
                                       const PostInfo& info) {
    posted.push_back({name, object, info});
}

int RecordingNotificationCenter::Deliver(const std::string& name, const std::string& object,
                                         const UserInfo& info) {
    int n = 0;
    for (const auto& o : observers_) {
        if (o.name != name || o.object != object) continue;
        o.callback(this, o.observer, name, object, info);
        ++n;
    }
    return n;
}
