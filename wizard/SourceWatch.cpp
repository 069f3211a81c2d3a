#include "SourceWatch.h"

#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <cstring>
#include <libudev.h>
#include <sys/stat.h>

namespace {

// Qt objects here are released with deleteLater: the page may end the watch
// from inside the watch's own notification.
template <class T>
struct LaterDelete {
    void operator()(T* object) const {
        object->disconnect();
        object->deleteLater();
    }
};
template <class T>
using QtOwned = std::unique_ptr<T, LaterDelete<T>>;

class FileWatch final : public SourceWatch {
public:
    FileWatch(const QString& path, OnChange onChange) : watcher_(new QFileSystemWatcher({path})) {
        QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, [onChange](const QString& changed) {
            onChange(changed);
        });
    }

private:
    QtOwned<QFileSystemWatcher> watcher_;
};

class DeviceWatch final : public SourceWatch {
public:
    DeviceWatch(const QString& path, dev_t source, OnChange onChange)
        : udev_(udev_new()), monitor_(nullptr, &udev_monitor_unref), source_(source), sourceDisk_(DiskOf(source)) {
        if (!udev_)
            return;
        monitor_.reset(udev_monitor_new_from_netlink(udev_, "udev"));
        if (!monitor_ || udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "block", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor_.get()) < 0)
            return;
        notifier_.reset(new QSocketNotifier(udev_monitor_get_fd(monitor_.get()), QSocketNotifier::Read));
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, path, onChange] {
            if (ReceiveConcernsSource())
                onChange(path);
        });
    }
    ~DeviceWatch() override {
        notifier_.reset();
        monitor_.reset();
        if (udev_)
            udev_unref(udev_);
    }

private:
    dev_t DiskOf(dev_t device) const {
        if (!udev_)
            return device;
        udev_device* node = udev_device_new_from_devnum(udev_, 'b', device);
        if (!node)
            return device;
        udev_device* disk = udev_device_get_parent_with_subsystem_devtype(node, "block", "disk");
        const dev_t result = disk ? udev_device_get_devnum(disk) : device;
        udev_device_unref(node); // the parent belongs to the child
        return result;
    }

    bool ReceiveConcernsSource() {
        udev_device* event = udev_monitor_receive_device(monitor_.get());
        if (!event)
            return false;
        const char* mediaChange = udev_device_get_property_value(event, "DISK_MEDIA_CHANGE");
        const bool concerns =
            DeviceEventConcernsSource(udev_device_get_action(event), udev_device_get_devnum(event),
                                      mediaChange && std::strcmp(mediaChange, "1") == 0, source_, sourceDisk_);
        udev_device_unref(event);
        return concerns;
    }

    udev* udev_;
    std::unique_ptr<udev_monitor, decltype(&udev_monitor_unref)> monitor_;
    QtOwned<QSocketNotifier> notifier_;
    dev_t source_;
    dev_t sourceDisk_;
};

} // namespace

bool DeviceEventConcernsSource(const char* action, dev_t device, bool mediaChange, dev_t source, dev_t sourceDisk) {
    if (!action || (device != source && device != sourceDisk))
        return false;
    return std::strcmp(action, "remove") == 0 || (std::strcmp(action, "change") == 0 && mediaChange);
}

std::unique_ptr<SourceWatch> WatchSource(const QString& source, SourceWatch::OnChange onChange) {
    struct stat info {};
    if (::stat(source.toLocal8Bit().constData(), &info) == 0 && S_ISBLK(info.st_mode))
        return std::make_unique<DeviceWatch>(source, info.st_rdev, std::move(onChange));
    return std::make_unique<FileWatch>(source, std::move(onChange));
}
