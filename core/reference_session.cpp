#include "core/reference_session.h"

#include "core/app_state.h"

bool ReferenceConfigured(const AppState& state) {
  return LoadReferenceSettings(state.IniPath).port != 0;
}

bool OpenReference(AppState& state, std::string& error) {
  const ReferenceSettings settings = LoadReferenceSettings(state.IniPath);
  if (state.Reference && state.Reference->is_open() && state.Reference->settings() == settings)
    return true;
  state.Reference.reset();
  if (!state.Tap)
    state.Tap = std::make_unique<LineTap>(*state.clock);
  auto link = std::make_unique<ReferenceLink>(settings, *state.clock, *state.ui, state.Tap.get());
  if (state.make_reference_line)
    link->set_line_maker(state.make_reference_line);
  if (!link->Open(error))
    return false;
  state.Reference = std::move(link);
  return true;
}

void CloseReference(AppState& state) {
  state.Reference.reset();
}
