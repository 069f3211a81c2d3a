#pragma once
// Watches the card while the confirmation page waits: a device for its
// removal or a change of medium (udev), an image file for any change
// (inotify). Reports the changed path once per change.
#include <QString>
#include <functional>
#include <memory>
#include <sys/types.h>

class SourceWatch {
public:
    using OnChange = std::function<void(const QString& changedPath)>;
    virtual ~SourceWatch() = default;
};

// A device watch for a block device, a file watch for anything else.
std::unique_ptr<SourceWatch> WatchSource(const QString& source, SourceWatch::OnChange onChange);

// Whether a udev event on `device` touches the source: its removal, or a
// medium change, on the source itself or on the disk that holds it.
bool DeviceEventConcernsSource(const char* action, dev_t device, bool mediaChange, dev_t source, dev_t sourceDisk);
