#include "VDDataManager.h"

namespace vd {

VDDataManager& VDDataManager::sharedInstance()
{
    static VDDataManager registry;
    return registry;
}

std::shared_ptr<VDDataProcesser> VDDataManager::bindProcesserId(const std::string& windowId)
{
    auto processer = VDDataProcesser::create();
    std::lock_guard lock(mutex_);
    processers_[windowId] = processer;
    return processer;
}

std::shared_ptr<VDDataProcesser> VDDataManager::getProcesserOfId(const std::string& windowId) const
{
    std::lock_guard lock(mutex_);
    const auto it = processers_.find(windowId);
    return it == processers_.end() ? nullptr : it->second;
}

std::shared_ptr<const VDListGenerations> VDDataManager::generationsOfId(const std::string& windowId) const
{
    std::lock_guard lock(mutex_);
    const auto it = processers_.find(windowId);
    return it == processers_.end() ? nullptr : it->second->generations();
}

void VDDataManager::removeId(const std::string& windowId)
{
    std::shared_ptr<VDDataProcesser> processer;
    {
        std::lock_guard lock(mutex_);
        const auto it = processers_.find(windowId);
        if (it == processers_.end())
            return;
        processer = std::move(it->second);
        processers_.erase(it);
    }
    processer->disconnect();
}

} // namespace vd
