#include "tests/doubles/ScriptedHost.h"

#include <chrono>
#include <thread>

namespace velmora::test {

void ScriptedFrame::SetupRegion(int l, int t, int w, int h, bool corners, const std::string& c) {
    left = l;
    top = t;
    width = w;
    height = h;
    cornersOnly = corners;
    caption = c;
}

void ScriptedFrame::PaintFrame(const std::string& c) {
    caption = c;
    ++paints;
}

void ScriptedHost::Answer(std::initializer_list<bool> answers) {
    std::lock_guard lock(mutex_);
    answers_.insert(answers_.end(), answers.begin(), answers.end());
}

std::vector<std::string> ScriptedHost::Questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
}

int ScriptedHost::Restores() const {
    std::lock_guard lock(mutex_);
    return restores_;
}

std::vector<bool> ScriptedHost::BusyCalls() const {
    std::lock_guard lock(mutex_);
    return busy_;
}

std::vector<std::string> ScriptedHost::Reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

bool ScriptedHost::AskYesNo(const std::string& caption, const std::string& text) {
    std::lock_guard lock(mutex_);
    questions_.push_back(caption + "|" + text);
    if (answers_.empty()) return defaultAnswer;
    const bool answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void ScriptedHost::RestoreApplication() {
    {
        std::lock_guard lock(mutex_);
        ++restores_;
    }
    if (onRestore) onRestore();
}

void ScriptedHost::SetBusyCursor(bool busy) {
    std::lock_guard lock(mutex_);
    busy_.push_back(busy);
}

void ScriptedHost::ReportMergeResult(const std::string& text) {
    std::lock_guard lock(mutex_);
    reports_.push_back(text);
}

void ScriptedHost::PostToUiThread(std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(fn));
}

std::string ScriptedHost::MessageText(int n) {
    std::lock_guard lock(mutex_);
    const auto it = texts.find(n);
    return it != texts.end() ? it->second : "L" + std::to_string(n);
}

void ScriptedHost::ProcessEvents() {
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) return;
            fn = std::move(posted_.front());
            posted_.pop_front();
        }
        fn();
    }
}

bool ScriptedHost::RunUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ProcessEvents();
        if (pred()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::unique_ptr<engine::TFlashingFrame> ScriptedHost::CreateFlashingFrame() {
    auto created = std::make_unique<ScriptedFrame>();
    frame = created.get();
    return created;
}

std::unique_ptr<engine::TEngineTimer> ScriptedHost::CreateTimer(int intervalMs,
                                                                std::function<void()> tick) {
    timerInterval = intervalMs;
    auto created = std::make_unique<ScriptedTimer>(std::move(tick));
    timer = created.get();
    return created;
}

std::unique_ptr<engine::TEngineAudioRecorder> ScriptedHost::CreateAudioRecorder() {
    return makeRecorder ? makeRecorder() : nullptr;
}

std::unique_ptr<engine::TEngineMixer> ScriptedHost::CreateMixer() {
    return makeMixer ? makeMixer() : nullptr;
}

}  // namespace velmora::test
