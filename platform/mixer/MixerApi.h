#pragma once
// A mixer driver with the records and calling conventions of the Windows
// multimedia mixer interface, so the audio units keep their mixer logic: one
// device per sound system, destinations with their source lines, and the
// controls of each line (volume, mute, multiplexer, mixer-type selector).
//
// The system driver stands on PulseAudio when a server answers, else on
// ALSA's simple mixer of each sound card, else it has no device. Changes
// are announced through the callback given to Open, from the driver's own
// thread. Tests substitute their own MixerDriver.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/wavein/WaveInApi.h"  // the result codes and integer names

namespace velmora::platform {

using LONG = std::int32_t;

struct MixerDevice;  // opaque, owned by the driver
using HMIXER = MixerDevice*;

inline constexpr int MIXER_SHORT_NAME_CHARS = 16;
inline constexpr int MIXER_LONG_NAME_CHARS = 64;
inline constexpr int MAXPNAMELEN = 32;

#pragma pack(push, 1)
struct MIXERCAPS {
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD fdwSupport;
    DWORD cDestinations;
};

struct MIXERLINE {
    DWORD cbStruct;
    DWORD dwDestination;
    DWORD dwSource;
    DWORD dwLineID;
    DWORD fdwLine;
    DWORD dwUser;
    DWORD dwComponentType;
    DWORD cChannels;
    DWORD cConnections;
    DWORD cControls;
    char szShortName[MIXER_SHORT_NAME_CHARS];
    char szName[MIXER_LONG_NAME_CHARS];
    struct {
        DWORD dwType;
        DWORD dwDeviceID;
        WORD wMid;
        WORD wPid;
        DWORD vDriverVersion;
        char szPname[MAXPNAMELEN];
    } Target;
};

struct MIXERCONTROL {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD dwControlType;
    DWORD fdwControl;
    DWORD cMultipleItems;
    char szShortName[MIXER_SHORT_NAME_CHARS];
    char szName[MIXER_LONG_NAME_CHARS];
    struct {  // the unsigned reading of the bounds, which every control here has
        DWORD dwMinimum;
        DWORD dwMaximum;
        DWORD dwReserved[4];
    } Bounds;
    struct {
        DWORD cSteps;
        DWORD dwReserved[5];
    } Metrics;
};

struct MIXERCONTROLDETAILS_UNSIGNED {
    DWORD dwValue;
};
struct MIXERCONTROLDETAILS_BOOLEAN {
    LONG fValue;
};
struct MIXERCONTROLDETAILS_LISTTEXT {
    DWORD dwParam1;
    DWORD dwParam2;
    char szName[MIXER_LONG_NAME_CHARS];
};
#pragma pack(pop)

// These two carry pointers, so they have the platform's natural layout.
struct MIXERLINECONTROLS {
    DWORD cbStruct;
    DWORD dwLineID;
    union {
        DWORD dwControlID;
        DWORD dwControlType;
    };
    DWORD cControls;
    DWORD cbmxctrl;
    MIXERCONTROL* pamxctrl;
};

struct MIXERCONTROLDETAILS {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD cChannels;
    DWORD cMultipleItems;
    DWORD cbDetails;
    void* paDetails;
};

static_assert(sizeof(MIXERCAPS) == 48);
static_assert(sizeof(MIXERLINE) == 168);
static_assert(sizeof(MIXERCONTROL) == 148);
static_assert(sizeof(MIXERCONTROLDETAILS_LISTTEXT) == 72);

// Control types.
inline constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
inline constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
inline constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
inline constexpr DWORD MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;
inline constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x1;
inline constexpr DWORD MIXERCONTROL_CONTROLF_MULTIPLE = 0x2;

// Line component types.
inline constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
inline constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
inline constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
inline constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;
inline constexpr DWORD MIXERLINE_LINEF_ACTIVE = 0x1;
inline constexpr DWORD MIXERLINE_LINEF_SOURCE = 0x80000000;

// Flags of the calls.
inline constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0x0;
inline constexpr DWORD MIXER_GETLINEINFOF_SOURCE = 0x1;
inline constexpr DWORD MIXER_GETLINEINFOF_LINEID = 0x2;
inline constexpr DWORD MIXER_GETLINECONTROLSF_ALL = 0x0;
inline constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYID = 0x1;
inline constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYTYPE = 0x2;
inline constexpr DWORD MIXER_GETCONTROLDETAILSF_VALUE = 0x0;
inline constexpr DWORD MIXER_GETCONTROLDETAILSF_LISTTEXT = 0x1;
inline constexpr DWORD MIXER_SETCONTROLDETAILSF_VALUE = 0x0;
inline constexpr DWORD MIXER_OBJECTF_HMIXER = 0x80000000;

// Change notifications: (message, device handle, line or control id).
inline constexpr UINT MM_MIXM_LINE_CHANGE = 0x3D0;
inline constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

// Result codes besides the MMSYSERR_* ones.
inline constexpr MMRESULT MIXERR_INVALLINE = 1024;
inline constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
inline constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// Called on the driver's own thread; it must hand the message on (to a
// queue) and return, without calling the driver.
using MixerCallback = std::function<void(UINT message, HMIXER mixer, DWORD id)>;

class MixerDriver {
  public:
    virtual ~MixerDriver() = default;

    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(UINT deviceId, MIXERCAPS* caps, UINT size) = 0;
    // callback may be empty: no notifications.
    virtual MMRESULT Open(HMIXER* mixer, UINT deviceId, MixerCallback callback) = 0;
    virtual MMRESULT Close(HMIXER mixer) = 0;
    virtual MMRESULT GetLineInfo(HMIXER mixer, MIXERLINE* line, DWORD flags) = 0;
    virtual MMRESULT GetLineControls(HMIXER mixer, MIXERLINECONTROLS* controls, DWORD flags) = 0;
    virtual MMRESULT GetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags) = 0;
    virtual MMRESULT SetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, DWORD flags) = 0;
    // Not in the Windows interface: the sound server's name of the source a
    // source line is (what WaveInDriver::OpenSource opens).
    // MMSYSERR_NOTSUPPORTED where the lines are no server's sources (a sound
    // card's own mixer), MIXERR_INVALLINE for an unknown line.
    virtual MMRESULT GetLineSource(HMIXER mixer, DWORD lineId, std::string& source);
    // Not in the Windows interface: the server's names of the microphone it
    // records by default (its default source, or the first that is no
    // output's monitor when that is one) and of the monitor of the output it
    // plays to by default; either empty when there is none.
    virtual MMRESULT GetDefaultSources(HMIXER mixer, std::string& microphone,
                                       std::string& outputMonitor);
};

// The driver on the machine's sound system (one per process).
MixerDriver& systemMixerDriver();

}  // namespace velmora::platform
