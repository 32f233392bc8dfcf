#include "platform/wavein/ThreadMessages.h"

#include <atomic>
#include <unordered_map>

namespace velmora::platform {
namespace {

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::unordered_map<std::uint32_t, MessageQueue*>& registry() {
    static std::unordered_map<std::uint32_t, MessageQueue*> r;
    return r;
}
std::uint32_t nextId() {
    static std::atomic<std::uint32_t> counter{0};
    std::uint32_t id;
    do id = ++counter;
    while (id == 0);
    return id;
}

}  // namespace

MessageQueue::MessageQueue() : id_(nextId()) {
    std::lock_guard lock(registryMutex());
    registry()[id_] = this;
}

MessageQueue::~MessageQueue() {
    std::lock_guard lock(registryMutex());
    registry().erase(id_);
}

void MessageQueue::post(const ThreadMessage& message) {
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(message);
    }
    arrived_.notify_one();
}

ThreadMessage MessageQueue::get() {
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [this] { return !messages_.empty(); });
    ThreadMessage m = messages_.front();
    messages_.pop_front();
    return m;
}

std::optional<ThreadMessage> MessageQueue::get(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !messages_.empty(); }))
        return std::nullopt;
    ThreadMessage m = messages_.front();
    messages_.pop_front();
    return m;
}

std::size_t MessageQueue::size() const {
    std::lock_guard lock(mutex_);
    return messages_.size();
}

bool PostThreadMessage(std::uint32_t threadId, std::uint32_t message, std::uintptr_t wParam,
                       std::uintptr_t lParam) {
    // The registry lock is held through the post so the queue cannot be
    // destroyed under us.
    std::lock_guard lock(registryMutex());
    auto it = registry().find(threadId);
    if (it == registry().end()) return false;
    it->second->post({message, wParam, lParam});
    return true;
}

}  // namespace velmora::platform
