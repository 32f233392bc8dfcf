#include "audio/EngineMixer.h"

#include "audio/WaveMixer.h"

namespace velmora::audio {
namespace {

class TEngineMixerAdapter final : public engine::TEngineMixer {
  public:
    explicit TEngineMixerAdapter(platform::MixerDriver* driver) : mixer_(driver) {}

    void SetMixerID(int id) override {
        if (id >= 0) mixer_.SetMixerID(static_cast<std::uint32_t>(id));
    }
    int DestinationCount() override { return mixer_.DestinationCount(); }
    void SetDestinationID(int id) override {
        if (id >= 0) mixer_.SetDestinationID(static_cast<std::uint32_t>(id));
    }
    bool MasterHasSelect() override { return mixer_.Master().Has(mcSelect); }
    int GetSelectedSource() override { return mixer_.Master().GetSelectedSource(); }
    void SelectSource(int index) override { mixer_.Master().SelectSource(index); }
    int LineCount() override { return mixer_.LineCount(); }
    // Indexes come from the settings file and may be stale: those beyond
    // the lines read as nothing and change nothing.
    std::string LineName(int index) override {
        const TAudioMixerLine* line = Line(index);
        return line ? line->Name() : std::string();
    }
    std::string LineSource(int index) override {
        const TAudioMixerLine* line = Line(index);
        return line ? line->SourceName() : std::string();
    }
    bool DefaultSources(std::string& microphone, std::string& outputMonitor) override {
        return mixer_.DefaultSources(microphone, outputMonitor);
    }

  private:
    TAudioMixerLine* Line(int index) const {
        return index >= 0 ? mixer_.Line(static_cast<std::size_t>(index)) : nullptr;
    }

    TAudioMixer mixer_;
};

}  // namespace

std::unique_ptr<engine::TEngineMixer> CreateEngineMixer(platform::MixerDriver* driver) {
    return std::make_unique<TEngineMixerAdapter>(driver);
}

}  // namespace velmora::audio
