#pragma once
// Per-thread message queues in the manner of PostThreadMessage: a thread that
// wants notifications owns a MessageQueue, which registers itself under a
// non-zero thread id; drivers post to that id from any thread. A post to an
// id with no queue fails, as posting to a thread without a queue does.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace velmora::platform {

struct ThreadMessage {
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::uintptr_t lParam = 0;
};

class MessageQueue {
  public:
    MessageQueue();   // registers under a fresh id
    ~MessageQueue();  // unregisters; messages still queued are dropped
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    std::uint32_t threadId() const { return id_; }

    void post(const ThreadMessage& message);
    // Blocks until a message arrives (GetMessage).
    ThreadMessage get();
    // Waits at most `timeout`; nothing when none arrived (PeekMessage + wait).
    std::optional<ThreadMessage> get(std::chrono::milliseconds timeout);
    std::size_t size() const;

  private:
    const std::uint32_t id_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<ThreadMessage> messages_;
};

// False when no queue is registered under threadId.
bool PostThreadMessage(std::uint32_t threadId, std::uint32_t message, std::uintptr_t wParam,
                       std::uintptr_t lParam);

}  // namespace velmora::platform
