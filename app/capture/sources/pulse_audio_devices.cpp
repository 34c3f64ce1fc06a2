#include "app/capture/sources/pulse_audio_devices.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <memory>

namespace tolvane {

namespace {

// One blocking exchange with the server on a private main loop.
class PulseConversation {
 public:
  PulseConversation() : loop_(pa_mainloop_new()) {
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "Tolvane");
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
    while (true) {
      pa_context_state_t state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY) {
        isReady_ = true;
        return;
      }
      if (!PA_CONTEXT_IS_GOOD(state) || pa_mainloop_iterate(loop_, 1, nullptr) < 0) return;
    }
  }
  ~PulseConversation() {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    pa_mainloop_free(loop_);
  }
  PulseConversation(const PulseConversation&) = delete;
  PulseConversation& operator=(const PulseConversation&) = delete;

  bool isReady() const { return isReady_; }
  pa_context* context() const { return context_; }

  // Runs the loop until the operation is done (or the connection fails).
  void wait(pa_operation* operation) {
    if (operation == nullptr) return;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
      if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) break;
    }
    pa_operation_unref(operation);
  }

 private:
  pa_mainloop* loop_;
  pa_context* context_ = nullptr;
  bool isReady_ = false;
};

struct ServerNames {
  std::string defaultSource;
  std::string defaultSink;
};

}  // namespace

PulseAudioDevices PulseAudioDevices::query() {
  PulseAudioDevices devices;
  PulseConversation conversation;
  if (!conversation.isReady()) return devices;

  ServerNames names;
  conversation.wait(pa_context_get_server_info(
      conversation.context(),
      [](pa_context*, const pa_server_info* info, void* user) {
        auto* out = static_cast<ServerNames*>(user);
        if (info == nullptr) return;
        if (info->default_source_name != nullptr) out->defaultSource = info->default_source_name;
        if (info->default_sink_name != nullptr) out->defaultSink = info->default_sink_name;
      },
      &names));
  devices.defaultSourceName_ = names.defaultSource;

  conversation.wait(pa_context_get_source_info_list(
      conversation.context(),
      [](pa_context*, const pa_source_info* info, int eol, void* user) {
        if (eol != 0 || info == nullptr) return;
        auto* out = static_cast<std::vector<Source>*>(user);
        out->push_back(Source{info->name, info->description != nullptr ? info->description : info->name,
                              info->monitor_of_sink != PA_INVALID_INDEX});
      },
      &devices.sources_));

  if (!names.defaultSink.empty()) {
    conversation.wait(pa_context_get_sink_info_by_name(
        conversation.context(), names.defaultSink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* user) {
          if (eol != 0 || info == nullptr || info->monitor_source_name == nullptr) return;
          *static_cast<std::string*>(user) = info->monitor_source_name;
        },
        &devices.defaultSinkMonitor_));
  }
  return devices;
}

std::vector<AudioDeviceOption> PulseAudioDevices::microphones() const {
  std::vector<AudioDeviceOption> options;
  for (const Source& source : sources_) {
    if (!source.isMonitor) options.push_back(AudioDeviceOption{source.name, source.description});
  }
  return options;
}

std::optional<std::string> PulseAudioDevices::defaultInput() const {
  auto isMicrophone = [](const Source& s) { return !s.isMonitor; };
  auto byName = std::find_if(sources_.begin(), sources_.end(),
                             [&](const Source& s) { return s.name == defaultSourceName_ && isMicrophone(s); });
  if (byName != sources_.end()) return byName->name;
  auto first = std::find_if(sources_.begin(), sources_.end(), isMicrophone);
  if (first != sources_.end()) return first->name;
  return std::nullopt;
}

std::optional<std::string> PulseAudioDevices::systemAudioSource() const {
  if (defaultSinkMonitor_.empty()) return std::nullopt;
  return defaultSinkMonitor_;
}

bool PulseAudioDevices::hasSource(const std::string& name) const {
  return std::any_of(sources_.begin(), sources_.end(), [&](const Source& s) { return s.name == name; });
}

}  // namespace tolvane
