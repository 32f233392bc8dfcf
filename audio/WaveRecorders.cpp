#include "audio/WaveRecorders.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "audio/WaveUtils.h"

namespace velmora::audio {

namespace {
constexpr std::chrono::seconds kPendingCloseLimit{10};
}

TStockAudioRecorder::~TStockAudioRecorder() {
    Shutdown();
    FinishWriter();
    SetStock(nullptr);
}

void TStockAudioRecorder::SetStock(TCustomWaveStorage* value) {
    if (value == stock_) return;
    if (stock_) stock_->RemoveWatcher(this);
    stock_ = value;
    if (stock_)
        stock_->AddWatcher(this, [this](TCustomWaveStorage* gone) {
            if (stock_ == gone) stock_ = nullptr;
        });
}

bool TStockAudioRecorder::RecordToFile(const std::string& fileName) {
    auto stream = std::make_unique<TFileStream>(fileName, TFileStream::fmCreate);
    return RecordToStream(stream.release(), TStreamOwnership::soOwned);
}

bool TStockAudioRecorder::RecordToStream(TStream* stream, TStreamOwnership ownership) {
    writeError_ = 0;
    if (GetActive()) {
        SetActive(false);
        std::this_thread::yield();
    }
    // The pending close finishes whatever writer is installed: let it finish
    // the old one before the new one goes in. A close that does not come
    // (the driver's own calls are bounded, so this is a fault) leaves the
    // new stream unused.
    if (!WaitWhileClosing(kPendingCloseLimit)) {
        delete new TWaveStreamAdapter(stream, ownership);  // frees an owned stream
        return false;
    }
    writer_ = new TWaveStreamAdapter(stream, ownership);
    bool result = false;
    try {
        result = Open();
    } catch (...) {
        if (writer_) FinishWriter();
        throw;
    }
    if (!result && writer_) FinishWriter();
    return result;
}

bool TStockAudioRecorder::StartFromStock(int index) {
    if (!stock_) throw EWaveAudioInvalidOperation("Stock property is not assigned");
    return RecordToStream(stock_->GetWaveStream(index), TStreamOwnership::soReference);
}

void TStockAudioRecorder::SetActive(bool value) {
    if (value == GetActive()) return;
    if (value)
        StartFromStock(0);
    else
        Stop();
}

void TStockAudioRecorder::GetWaveFormat(PWaveFormatEx& record, bool& FreeIt) {
    TWaveAudioIn::GetWaveFormat(record, FreeIt);
    if (record && writer_) writer_->BeginRewrite(record);
}

void TStockAudioRecorder::ProcessData(const void* data, std::uint32_t count, bool&) {
    if (const int gain = gain_; gain < 100 && data) {
        const auto* bytes = static_cast<const char*>(data);
        scaled_.assign(bytes, bytes + count);
        ScaleWaveAudio(scaled_.data(), count, WaveFormat().wBitsPerSample, gain);
        data = scaled_.data();
    }
    std::int64_t written = -1;
    try {
        if (writer_) written = writer_->Write(data, count);
    } catch (const EStreamError& e) {
        // Kept for the recording's owner, who stops and says why.
        if (!writeError_) writeError_ = e.Error() ? e.Error() : EIO;
    }
    if (written != static_cast<std::int64_t>(count)) {
        if (!writeError_)
            writeError_ = writer_ && writer_->WriteError() ? writer_->WriteError() : EIO;
        Success(platform::MMSYSERR_ERROR);
    }
}

void TStockAudioRecorder::FinishWriter() {
    delete writer_;  // finishes a file still being written; frees an owned stream
    writer_ = nullptr;
}

void TStockAudioRecorder::InClosed() {
    try {
        // The pad and the final sizes are written here: their failure is a
        // failed write like any other.
        if (writer_ && writer_->State() == TWaveStreamState::wssWriting && !writer_->EndRewrite() &&
            !writeError_)
            writeError_ = writer_->WriteError();
    } catch (...) {
    }
    FinishWriter();
    TWaveAudioIn::InClosed();
}

std::string TStockAudioRecorder::GetErrorText(MMRESULT code) {
    const std::string whose = title_.empty() ? std::string() : title_ + ": ";
    const int error = writeError_;
    if (code != platform::MMSYSERR_ERROR || error == 0)
        return whose + TWaveAudioIn::GetErrorText(code);
    if (error == ENOSPC || error == EDQUOT)
        return whose + "The disk is full: the sound cannot be stored.";
    return whose + "The sound cannot be stored: " + std::strerror(error) + ".";
}

void TStockAudioRecorder::DoError() {
    if (!GetActive() && writer_) FinishWriter();
    TWaveAudioIn::DoError();
}

}  // namespace velmora::audio
