#pragma once
// Receives a text from the logger outside the log lines themselves: the file
// senders report each file they open to it.

#include <cstdint>

namespace Logger {

class Callback {
public:
    virtual ~Callback() = default;
    // targetId: the id of the target whose sender opened the file (-1 none);
    // text: "<loggerCallback type='sender2File'>...</loggerCallback>".
    virtual void call(int32_t targetId, const char* text) = 0;
};

} // namespace Logger
