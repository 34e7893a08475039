#pragma once

#include "files/store/temporary_export_directory.h"

#include <QString>

#include <functional>
#include <mutex>
#include <optional>

namespace tampod {

// One staging folder that the exports of a batch into one folder take turns in, each under
// names of its own: making, recording and flushing a staging folder costs more than a short
// file's whole export. The first export that stages makes it; close() removes it with its
// record, and exports after that make folders of their own again. What a crash leaves is one
// recorded staging folder, which the launch cleanup removes as a whole.
class SharedExportStaging {
public:
    using Make = std::function<TemporaryExportDirectory()>;

    SharedExportStaging() = default;
    ~SharedExportStaging() { close(); }
    SharedExportStaging(const SharedExportStaging &) = delete;
    SharedExportStaging &operator=(const SharedExportStaging &) = delete;

    // The name prefix in the shared folder for one export whose destination lies in folder,
    // making the folder with make when there is none yet; nullopt once closed, or when the
    // folder was made beside another folder. Errors of make pass on.
    std::optional<QString> prefixFor(const QString &folder, const Make &make);
    void close() noexcept;

private:
    std::mutex mutex_;
    std::optional<TemporaryExportDirectory> directory_; // thread: under mutex_
    QString folder_;                                    // thread: under mutex_
    int exports_ = 0;                                   // thread: under mutex_
    bool closed_ = false;                               // thread: under mutex_
};

} // namespace tampod
