// The installed-driver table and the ICxxx calls on it.

#include <cctype>
#include <cstring>
#include <mutex>

#include "engine/vfw/AviObjects.h"
#include "engine/vfw/CodecDrivers.h"

namespace velmora::vfw {

class IcHandle {
  public:
    std::shared_ptr<ICDriver> driver;
    UINT mode = 0;
};

namespace {

struct Installed {
    FOURCC type;
    FOURCC handler;
    std::shared_ptr<ICDriver> driver;
};

std::mutex tableMutex;
std::vector<Installed>& table() {
    static std::vector<Installed> t = [] {
        std::vector<Installed> v;
        for (auto& d : builtinDrivers()) {
            ICINFO info{};
            d->getInfo(info);
            v.push_back({info.fccType, info.fccHandler, d});
        }
        return v;
    }();
    return t;
}

std::mutex hookMutex;
ICCONFIGUREHOOK& hook() {
    static ICCONFIGUREHOOK h;
    return h;
}

FOURCC upper(FOURCC f) {
    FOURCC r = 0;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<unsigned char>((f >> (8 * i)) & 0xFF);
        r |= static_cast<FOURCC>(std::toupper(c)) << (8 * i);
    }
    return r;
}

bool sameHandler(FOURCC a, FOURCC b) {
    return upper(a) == upper(b);
}

}  // namespace

std::shared_ptr<ICDriver> driverOfHandle(HIC hic) {
    return hic ? hic->driver : nullptr;
}

BOOL ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo) {
    if (!lpicinfo) return 0;
    std::shared_ptr<ICDriver> found;
    {
        std::lock_guard lock(tableMutex);
        DWORD n = 0;
        for (auto& e : table()) {
            if (fccType != 0 && e.type != fccType) continue;
            const bool match =
                fccHandler < 256 ? n++ == fccHandler : sameHandler(e.handler, fccHandler);
            if (match) {
                found = e.driver;
                break;
            }
        }
    }
    if (!found) return 0;
    ICINFO info{};
    found->getInfo(info);
    info.dwSize = sizeof(ICINFO);
    *lpicinfo = info;
    return 1;
}

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode) {
    if (wMode != ICMODE_QUERY && wMode != ICMODE_COMPRESS && wMode != ICMODE_FASTCOMPRESS) {
        return nullptr;  // only compressors live here
    }
    std::shared_ptr<ICDriver> found;
    {
        std::lock_guard lock(tableMutex);
        for (auto& e : table()) {
            if ((fccType == 0 || e.type == fccType) && sameHandler(e.handler, fccHandler)) {
                found = e.driver;
                break;
            }
        }
    }
    if (!found) return nullptr;
    auto* h = new (std::nothrow) IcHandle;
    if (!h) return nullptr;
    h->driver = std::move(found);
    h->mode = wMode;
    return h;
}

LRESULT ICClose(HIC hic) {
    if (!hic) return ICERR_BADHANDLE;
    delete hic;
    return ICERR_OK;
}

LRESULT ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb) {
    return ICSendMessage(hic, ICM_GETINFO, reinterpret_cast<DWORD_PTR>(picinfo), cb);
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
    if (!hic || !hic->driver) return ICERR_BADHANDLE;
    ICDriver& d = *hic->driver;
    switch (msg) {
        case ICM_GETINFO: {
            auto* out = reinterpret_cast<ICINFO*>(dw1);
            if (!out) return 0;
            ICINFO info{};
            d.getInfo(info);
            info.dwSize = sizeof(ICINFO);
            const std::size_t n = std::min<std::size_t>(dw2, sizeof(ICINFO));
            std::memcpy(out, &info, n);
            return static_cast<LRESULT>(n);
        }
        case ICM_COMPRESS_QUERY:
            if (!dw1) return ICERR_BADPARAM;
            return d.compressQuery(reinterpret_cast<const BITMAPINFO*>(dw1),
                                   reinterpret_cast<const BITMAPINFO*>(dw2));
        case ICM_CONFIGURE: {
            ICCONFIGUREHOOK h;
            {
                std::lock_guard lock(hookMutex);
                h = hook();
            }
            std::vector<ICCONFIGOPTION> options = d.options();
            const bool can = h && !options.empty();
            if (dw1 == static_cast<DWORD_PTR>(-1) && dw2 == ICMF_CONFIGURE_QUERY) {
                return can ? ICERR_OK : ICERR_UNSUPPORTED;
            }
            if (!can) return ICERR_UNSUPPORTED;
            ICINFO info{};
            d.getInfo(info);
            info.dwSize = sizeof(ICINFO);
            if (h(reinterpret_cast<HWND>(dw1), info, options)) {
                d.setOptions(options);
                return ICERR_OK;
            }
            return ICERR_ABORT;
        }
        case ICM_ABOUT:
            return ICERR_UNSUPPORTED;  // no driver here has an about box
        default:
            return d.message(msg, dw1, dw2);
    }
}

void ICSetConfigureHook(ICCONFIGUREHOOK h) {
    std::lock_guard lock(hookMutex);
    hook() = std::move(h);
}

BOOL ICInstall(DWORD fccType, DWORD fccHandler, std::shared_ptr<ICDriver> driver) {
    if (!driver) return 0;
    std::lock_guard lock(tableMutex);
    for (auto& e : table()) {
        if (e.type == fccType && sameHandler(e.handler, fccHandler)) return 0;
    }
    table().push_back({fccType, fccHandler, std::move(driver)});
    return 1;
}

BOOL ICRemove(DWORD fccType, DWORD fccHandler) {
    std::lock_guard lock(tableMutex);
    auto& t = table();
    for (auto it = t.begin(); it != t.end(); ++it) {
        if (it->type == fccType && sameHandler(it->handler, fccHandler)) {
            t.erase(it);
            return 1;
        }
    }
    return 0;
}

void ICRemoveAll() {
    std::lock_guard lock(tableMutex);
    table().clear();
}

void ICRestoreBuiltinDrivers() {
    std::lock_guard lock(tableMutex);
    auto& t = table();
    t.clear();
    for (auto& d : builtinDrivers()) {
        ICINFO info{};
        d->getInfo(info);
        t.push_back({info.fccType, info.fccHandler, d});
    }
}

std::shared_ptr<ICDriver> ICGetBuiltinDriver(DWORD fccHandler) {
    for (auto& d : builtinDrivers()) {
        ICINFO info{};
        d->getInfo(info);
        if (sameHandler(info.fccHandler, fccHandler)) return d;
    }
    return nullptr;
}

}  // namespace velmora::vfw
