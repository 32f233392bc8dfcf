#include "platform/portal/PipeWireStream.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

// PipeWire's headers are C: their pod-building macros use compound literals.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

namespace velmora::platform::portal {
namespace {

constexpr const char* kSharingStopped = "The screen sharing was stopped: ";

constexpr std::size_t CursorMetaSize(int w, int h) {
    return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + std::size_t(w) * std::size_t(h) * 4;
}

bool FormatOf(std::uint32_t spa, StreamFormat& format) {
    switch (spa) {
        case SPA_VIDEO_FORMAT_BGRx:
            format = StreamFormat::BGRx;
            return true;
        case SPA_VIDEO_FORMAT_BGRA:
            format = StreamFormat::BGRA;
            return true;
        case SPA_VIDEO_FORMAT_RGBx:
            format = StreamFormat::RGBx;
            return true;
        case SPA_VIDEO_FORMAT_RGBA:
            format = StreamFormat::RGBA;
            return true;
        default:
            return false;
    }
}

}  // namespace

struct PipeWireStream::Private {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    pw_registry* registry = nullptr;
    std::uint32_t node = 0;
    spa_hook streamListener{};
    spa_hook coreListener{};
    spa_hook registryListener{};
    bool cursorMetadata = false;

    // Negotiated on the PipeWire thread, read by grabs.
    mutable std::mutex mutex;
    std::condition_variable arrived;
    int width = 0, height = 0;
    StreamFormat format = StreamFormat::BGRx;
    bool negotiated = false;
    // The newest buffer, kept from the compositor, and its picture.
    pw_buffer* held = nullptr;
    StreamFrame frame;
    // The buffer a grab reads now, and those replaced while it was read:
    // they go back when it ends (giveBack wakes the loop for them).
    pw_buffer* read = nullptr;
    std::condition_variable readEnded;
    std::vector<pw_buffer*> retired;
    spa_source* giveBack = nullptr;
    LentRows lent;  // the grabbing thread's
    std::string failure;
    std::atomic<bool> failed{false};
    bool cursorVisible = false;
    CursorImage cursor;

    void Fail(const std::string& why) {
        {
            std::lock_guard lock(mutex);
            if (failure.empty()) failure = why;
        }
        failed = true;
        arrived.notify_all();
    }

    static void OnState(void* data, pw_stream_state, pw_stream_state state, const char* error) {
        auto* self = static_cast<Private*>(data);
        if (state == PW_STREAM_STATE_ERROR)
            self->Fail(std::string(kSharingStopped) + "the PipeWire stream failed (" +
                       (error ? error : "no reason given") + ")");
        else if (state == PW_STREAM_STATE_UNCONNECTED)
            self->Fail(std::string(kSharingStopped) + "the desktop ended it");
    }

    static void OnCoreError(void* data, std::uint32_t id, int, int res, const char* message) {
        if (id != PW_ID_CORE || res != -EPIPE) return;
        static_cast<Private*>(data)->Fail(std::string(kSharingStopped) +
                                          "PipeWire closed the connection (" +
                                          (message ? message : "") + ")");
    }

    // The compositor's node going away (the portal's session closed, "Stop
    // sharing", the portal or its backend gone) leaves our stream connected
    // but idle: only the registry tells.
    static void OnGlobalRemoved(void* data, std::uint32_t id) {
        auto* self = static_cast<Private*>(data);
        if (id == self->node) self->Fail(std::string(kSharingStopped) + "the desktop ended it");
    }

    static void OnParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
        auto* self = static_cast<Private*>(data);
        if (!param || id != SPA_PARAM_Format) return;
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0) return;
        StreamFormat format;
        if (!FormatOf(info.format, format)) {
            self->Fail("Screen capture failed: the stream offers no format we read");
            return;
        }
        {
            std::lock_guard lock(self->mutex);
            self->width = static_cast<int>(info.size.width);
            self->height = static_cast<int>(info.size.height);
            self->format = format;
            self->negotiated = true;
        }
        // Shared memory only: we read the pixels with the CPU.
        std::uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[4];
        std::uint32_t count = 0;
        params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        params[count++] = static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        // Where a compositor streams a part of its buffers (a window in a
        // larger one), it says which.
        params[count++] = static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
        if (self->cursorMetadata)
            params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
                SPA_POD_CHOICE_RANGE_Int(CursorMetaSize(64, 64), CursorMetaSize(1, 1),
                                         CursorMetaSize(256, 256))));
        pw_stream_update_params(self->stream, params, count);
    }

    void ReadCursor(spa_buffer* buffer) {
        auto* meta = static_cast<spa_meta_cursor*>(
            spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
        if (!meta || !spa_meta_cursor_is_valid(meta)) return;
        std::lock_guard lock(mutex);
        cursorVisible = true;
        cursor.x = meta->position.x;
        cursor.y = meta->position.y;
        cursor.xhot = meta->hotspot.x;
        cursor.yhot = meta->hotspot.y;
        if (meta->bitmap_offset < sizeof(spa_meta_cursor)) return;  // same picture as before
        const auto* bitmap = SPA_PTROFF(meta, meta->bitmap_offset, spa_meta_bitmap);
        StreamFormat format;
        if (bitmap->size.width == 0 || bitmap->size.height == 0) {
            cursorVisible = false;  // an empty picture: the pointer is hidden
            return;
        }
        if (!FormatOf(bitmap->format, format)) return;
        CursorFromBitmap(SPA_PTROFF(bitmap, bitmap->offset, const std::uint8_t),
                         static_cast<int>(bitmap->size.width),
                         static_cast<int>(bitmap->size.height), bitmap->stride, format, cursor);
    }

    static void OnProcess(void* data) {
        auto* self = static_cast<Private*>(data);
        // Only the newest buffer matters: older ones go straight back.
        pw_buffer* newest = nullptr;
        while (pw_buffer* next = pw_stream_dequeue_buffer(self->stream)) {
            if (newest) pw_stream_queue_buffer(self->stream, newest);
            newest = next;
        }
        if (!newest) return;
        spa_buffer* buffer = newest->buffer;
        if (self->cursorMetadata) self->ReadCursor(buffer);
        const auto* header = static_cast<spa_meta_header*>(
            spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
        const spa_data& plane = buffer->datas[0];
        const bool corrupted = (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) ||
                               (plane.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED);
        bool kept = false;
        if (plane.data && plane.chunk->size > 0 && !corrupted) {
            ScreenRect crop;
            const auto* region = static_cast<spa_meta_region*>(
                spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
            if (region && spa_meta_region_is_valid(region))
                crop = {region->region.position.x, region->region.position.y,
                        static_cast<int>(region->region.size.width),
                        static_cast<int>(region->region.size.height)};
            std::lock_guard lock(self->mutex);
            const std::uint32_t offset = std::min(plane.chunk->offset, plane.maxsize);
            const std::size_t size =
                std::min<std::size_t>(plane.chunk->size, plane.maxsize - offset);
            const int stride = plane.chunk->stride > 0 ? plane.chunk->stride : self->width * 4;
            StreamFrame next = self->frame;
            kept = self->negotiated &&
                   FrameOfBuffer(static_cast<const std::uint8_t*>(plane.data) + offset, size,
                                 self->width, self->height, stride, self->format, &crop, next);
            if (kept) {
                if (self->held && self->held == self->read)
                    self->retired.push_back(self->held);
                else if (self->held)
                    pw_stream_queue_buffer(self->stream, self->held);
                self->held = newest;
                self->frame = next;
            }
        }
        if (kept)
            self->arrived.notify_all();
        else
            pw_stream_queue_buffer(self->stream, newest);
    }

    // The buffers replaced while a grab read one, once it has ended.
    static void OnGiveBack(void* data, std::uint64_t) {
        auto* self = static_cast<Private*>(data);
        std::lock_guard lock(self->mutex);
        std::erase_if(self->retired, [self](pw_buffer* b) {
            if (b == self->read) return false;
            pw_stream_queue_buffer(self->stream, b);
            return true;
        });
    }

    // The stream takes its buffers away (a new format, the end): not one a
    // grab reads now, which it ends within a conversion.
    static void OnRemoveBuffer(void* data, pw_buffer* buffer) {
        auto* self = static_cast<Private*>(data);
        std::unique_lock lock(self->mutex);
        self->readEnded.wait(lock, [&] { return self->read != buffer; });
        if (self->held == buffer) {
            self->held = nullptr;
            self->frame.pixels = nullptr;
        }
        std::erase(self->retired, buffer);
    }

    // The newest frame, kept from the compositor until EndRead.
    bool BeginRead(StreamFrame& out) {
        std::lock_guard lock(mutex);
        if (failed || !held || frame.empty()) return false;
        read = held;
        out = frame;
        return true;
    }

    void EndRead() {
        bool giveBackNow;
        {
            std::lock_guard lock(mutex);
            if (!read) return;
            read = nullptr;
            giveBackNow = !retired.empty();
        }
        readEnded.notify_all();
        if (giveBackNow) pw_loop_signal_event(pw_thread_loop_get_loop(loop), giveBack);
    }
};

PipeWireStream::PipeWireStream() : d_(std::make_unique<Private>()) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
}

PipeWireStream::~PipeWireStream() {
    EndLend();
    if (d_->loop) {
        pw_thread_loop_lock(d_->loop);
        if (d_->stream) {
            pw_stream_disconnect(d_->stream);
            pw_stream_destroy(d_->stream);
        }
        if (d_->registry) {
            spa_hook_remove(&d_->registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(d_->registry));
        }
        if (d_->core) pw_core_disconnect(d_->core);
        if (d_->giveBack) pw_loop_destroy_source(pw_thread_loop_get_loop(d_->loop), d_->giveBack);
        pw_thread_loop_unlock(d_->loop);
        pw_thread_loop_stop(d_->loop);
        if (d_->context) pw_context_destroy(d_->context);
        pw_thread_loop_destroy(d_->loop);
    }
}

bool PipeWireStream::Connect(int fd, std::uint32_t node, bool cursorMetadata, std::string& error) {
    Private& d = *d_;
    d.cursorMetadata = cursorMetadata;
    d.loop = pw_thread_loop_new("velmora-screen", nullptr);
    if (!d.loop) {
        ::close(fd);
        error = "Screen capture failed: no PipeWire thread loop";
        return false;
    }
    d.context = pw_context_new(pw_thread_loop_get_loop(d.loop), nullptr, 0);
    if (!d.context || pw_thread_loop_start(d.loop) < 0) {
        ::close(fd);
        error = "Screen capture failed: PipeWire could not start";
        return false;
    }
    pw_thread_loop_lock(d.loop);
    d.giveBack = pw_loop_add_event(pw_thread_loop_get_loop(d.loop), &Private::OnGiveBack, &d);
    d.core = pw_context_connect_fd(d.context, fd, nullptr, 0);  // owns fd from here
    if (!d.core) {
        pw_thread_loop_unlock(d.loop);
        error = "Screen capture failed: the portal's PipeWire connection did not open";
        return false;
    }
    static const pw_core_events coreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.error = &Private::OnCoreError;
        return events;
    }();
    pw_core_add_listener(d.core, &d.coreListener, &coreEvents, &d);
    d.node = node;
    d.registry = pw_core_get_registry(d.core, PW_VERSION_REGISTRY, 0);
    if (d.registry) {
        static const pw_registry_events registryEvents = [] {
            pw_registry_events events{};
            events.version = PW_VERSION_REGISTRY_EVENTS;
            events.global_remove = &Private::OnGlobalRemoved;
            return events;
        }();
        pw_registry_add_listener(d.registry, &d.registryListener, &registryEvents, &d);
    }
    d.stream = pw_stream_new(d.core, "Velmora",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                               "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!d.stream) {
        pw_thread_loop_unlock(d.loop);
        error = "Screen capture failed: no PipeWire stream";
        return false;
    }
    static const pw_stream_events streamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = &Private::OnState;
        events.param_changed = &Private::OnParamChanged;
        events.process = &Private::OnProcess;
        events.remove_buffer = &Private::OnRemoveBuffer;
        return events;
    }();
    pw_stream_add_listener(d.stream, &d.streamListener, &streamEvents, &d);

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size{1920, 1080}, smallest{1, 1}, largest{16384, 16384};
    spa_fraction rate{30, 1}, slowest{0, 1}, fastest{1000, 1};
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &fastest)))};
    const int result = pw_stream_connect(
        d.stream, PW_DIRECTION_INPUT, node,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        params, 1);
    pw_thread_loop_unlock(d.loop);
    if (result < 0) {
        error = "Screen capture failed: the PipeWire stream did not connect to node " +
                std::to_string(node);
        return false;
    }
    return true;
}

bool PipeWireStream::WaitForFirstFrame(std::chrono::milliseconds timeout, std::string& error) {
    std::unique_lock lock(d_->mutex);
    d_->arrived.wait_for(lock, timeout, [this] { return !d_->frame.empty() || d_->failed; });
    if (d_->failed) {
        error = d_->failure;
        return false;
    }
    if (d_->frame.empty()) {
        error = "Screen capture failed: no picture came from the screen stream within " +
                std::to_string(timeout.count() / 1000) + " s";
        return false;
    }
    return true;
}

bool PipeWireStream::Grab(int left, int top, const DibRows& out, std::string& error) {
    EndLend();
    StreamFrame frame;
    if (d_->BeginRead(frame)) {
        // Copied outside the lock: the stream's thread goes on meanwhile.
        FrameToDib(frame, left, top, out);
        d_->EndRead();
    }
    std::lock_guard lock(d_->mutex);
    if (d_->failed) {
        error = d_->failure;
        return false;
    }
    return true;
}

bool PipeWireStream::Lend(int left, int top, int width, int height, const ScreenRect* cursor,
                          DibRows& out) {
    EndLend();
    StreamFrame frame;
    if (!d_->BeginRead(frame)) return false;
    if (d_->lent.Lend(frame, left, top, width, height, cursor, out)) return true;
    d_->EndRead();
    return false;
}

void PipeWireStream::EndLend() {
    d_->lent.End();
    d_->EndRead();
}

int PipeWireStream::width() const {
    std::lock_guard lock(d_->mutex);
    return d_->frame.empty() ? d_->width : d_->frame.width;
}

int PipeWireStream::height() const {
    std::lock_guard lock(d_->mutex);
    return d_->frame.empty() ? d_->height : d_->frame.height;
}

bool PipeWireStream::failed() const {
    return d_->failed;
}

bool PipeWireStream::Cursor(CursorImage& out) const {
    std::lock_guard lock(d_->mutex);
    if (!d_->cursorVisible || d_->cursor.argb.empty()) return false;
    out = d_->cursor;
    return true;
}

bool PipeWireStream::CursorPosition(int& x, int& y) const {
    std::lock_guard lock(d_->mutex);
    if (!d_->cursorVisible) return false;
    x = d_->cursor.x;
    y = d_->cursor.y;
    return true;
}

}  // namespace velmora::platform::portal

#pragma GCC diagnostic pop
