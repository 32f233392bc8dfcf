#pragma once
// The recording worker: runs the engine's recording (again with the default
// compressor when a run asks for it), deletes the temporary files and hands
// its end to the engine on the UI thread, which then joins and frees it.

#include <atomic>
#include <string>
#include <thread>

namespace velmora::engine {

class TScreenCamera;

class TRecordAVIThread {
  public:
    explicit TRecordAVIThread(TScreenCamera* engine);
    // Joins the thread.
    ~TRecordAVIThread();
    TRecordAVIThread(const TRecordAVIThread&) = delete;
    TRecordAVIThread& operator=(const TRecordAVIThread&) = delete;

    void Start();
    // The body is done with the engine (it may still be returning).
    bool Finished() const { return finished_; }

  private:
    void Execute();
    // Keeps the temporary files after an exception; text and where they are.
    static std::string KeptAfterFailure(TScreenCamera& engine, std::string text);

    TScreenCamera* engine_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

}  // namespace velmora::engine
