#pragma once
// Recordings of the whole program in each file format: H.264 of a 320x240
// area of the screen with the microphone's tone, and what ffprobe says of
// their timing.

#include "tests/e2e/SoundProgram.h"

namespace velmora::e2e {

// The area the format recordings take, away from the program's window.
inline constexpr int kAreaLeft = 900, kAreaTop = 400, kAreaWidth = 320, kAreaHeight = 240;

// A picture of FFmpeg's (a lavfi source of the area's size) shown over the
// recorded area while it lives.
class ScreenPicture {
  public:
    explicit ScreenPicture(const std::string& source) {
        pid_ = capture("setsid ffplay -loglevel error -an -noborder -left " +
                       std::to_string(kAreaLeft) + " -top " + std::to_string(kAreaTop) +
                       " -window_title 'moving picture' -f lavfi -i '" + source +
                       "' >/dev/null 2>&1 </dev/null & echo $!");
        while (!pid_.empty() && pid_.back() == '\n') pid_.pop_back();
        shown_ =
            WaitFor([] { return run("xwininfo -name 'moving picture' >/dev/null 2>&1") == 0; });
    }
    // Gone when the test ends, which checks that nothing it started runs on.
    ~ScreenPicture() {
        if (pid_.empty()) return;
        run("kill " + pid_ + " 2>/dev/null");
        const fs::path process = "/proc/" + pid_;
        if (!WaitFor(
                [&] {
                    return !fs::exists(process) ||
                           Slurp(process / "status").find("State:\tZ") != std::string::npos;
                },
                std::chrono::seconds(5)))
            run("kill -9 " + pid_ + " 2>/dev/null");
    }
    bool Shown() const { return shown_; }

  private:
    std::string pid_;
    bool shown_ = false;
};

// FFmpeg's moving test picture.
inline std::string MovingPicture() {
    return "testsrc2=size=" + std::to_string(kAreaWidth) + "x" + std::to_string(kAreaHeight) +
           ":rate=30";
}

// Setup.ini of a recording with the microphone's sound into format (AVI,
// MP4, MKV) with codec (PCM, AAC, OPUS, FLAC): x264 (the fourth
// compressor) at 15 fps of the area, the window left where it is.
inline std::string FormatSettings(const std::string& microphone, const std::string& format,
                                  const std::string& codec) {
    return microphone + "\nAudioCodec=" + codec +
           "\n[SetupVideo]\nCodecIndex=3\nVideoFPS=15\nTypeCapture=0\nRegionLeftPos=" +
           std::to_string(kAreaLeft) + "\nRegionTopPos=" + std::to_string(kAreaTop) +
           "\nRegionWidthPos=" + std::to_string(kAreaWidth) +
           "\nRegionHeightPos=" + std::to_string(kAreaHeight) + "\nOutputFormat=" + format +
           "\nCaptureCursor=0\n[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";
}

// When the first decoded frame of stream "v" or "a" is shown, after what
// the container says to skip (the encoder's priming).
inline double FirstFrameTime(const std::string& file, const char* type) {
    return std::atof(capture(std::string("ffprobe -v error -select_streams ") + type +
                             ":0 -show_entries frame=pts_time -read_intervals %+#1 -of csv=p=0 '" +
                             file + "' | head -n1")
                         .c_str());
}

// The end of the last video frame: the picture's length in any container
// (AVI gives H.264 packets a decoding time only).
inline double VideoSeconds(const std::string& file) {
    return std::atof(capture("ffprobe -v error -select_streams v:0 -show_entries "
                             "packet=pts_time,dts_time,duration_time -of csv=p=0 '" +
                             file +
                             "' | awk -F, '{ t = $1 == \"N/A\" ? $2 : $1; print t + $3 }' | "
                             "sort -g | tail -n1")
                         .c_str());
}

// A program folder set up to record the microphone in any format.
class FormatProgramTest : public SoundProgramTest {
  protected:
    void SetUp() override {
        SoundProgramTest::SetUp();
        if (IsSkipped()) return;
        microphone_ = MicrophoneSettings();
        ASSERT_FALSE(microphone_.empty());
    }

    // A recording of `seconds` into its own folder; empty when none was saved.
    std::string Record(const std::string& format, const std::string& codec, int seconds = 2) {
        const fs::path out = out_ / (format + "-" + codec);
        fs::create_directories(out);
        std::ofstream(folder_ / "Setup.ini") << FormatSettings(microphone_, format, codec);
        Program program(folder_,
                        {"-vc", "time=" + std::to_string(seconds), "path=" + out.string() + "/"});
        const std::string window = program.WaitForWindow(kMainTitle);
        if (window.empty()) return {};
        const bool saved =
            WaitFor([&] { return Recordings(out).size() == 1; }, std::chrono::seconds(40));
        program.Close(window);
        EXPECT_EQ(program.Exit(), 0);
        return saved ? Recordings(out).front().string() : std::string();
    }

    std::string microphone_;
};

}  // namespace velmora::e2e
