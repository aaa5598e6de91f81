#include "sequencer/state_table.h"

#include <array>

#include "app/form.h"

namespace mvx {
namespace {

#define MVX_STATE_ROW(number, name, step) StateRow{number, #name, step},
constexpr std::array kStates{MVX_SEQUENCER_STATES(MVX_STATE_ROW)};
#undef MVX_STATE_ROW

}  // namespace

std::span<const StateRow> StateTable() {
  return kStates;
}

const StateRow* FindState(int number) {
  for (const StateRow& row : kStates)
    if (row.Number == number) return &row;
  return nullptr;
}

}  // namespace mvx
