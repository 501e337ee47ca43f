#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "VDDataProcesser.h"

namespace vd {

// The process-wide registry from window id to that window's processor. Safe from any thread.
class VDDataManager {
public:
    static VDDataManager& sharedInstance();

    // A new processor under the id; one bound earlier under it is dropped, not disconnected.
    std::shared_ptr<VDDataProcesser> bindProcesserId(const std::string& windowId);
    std::shared_ptr<VDDataProcesser> getProcesserOfId(const std::string& windowId) const;
    // The generations of the lists of the processor under the id, for a view checking them on
    // a processor's thread: it holds no processor alive, so none can end on that thread.
    std::shared_ptr<const VDListGenerations> generationsOfId(const std::string& windowId) const;
    // Disconnects the processor under the id and forgets it.
    void removeId(const std::string& windowId);

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<VDDataProcesser>> processers_;
};

} // namespace vd
