#include "tools/modemsim/modem_model.h"

namespace modemsim {

ModemModel::ModemModel(ModemSettings settings) : settings_(std::move(settings)), echo_(settings_.echo) {}
void ModemModel::receive(const uint8_t*, size_t, Micros) {}
size_t ModemModel::takeOutput(uint8_t*, size_t, Micros) { return 0; }
size_t ModemModel::outputReady(Micros) { return 0; }
std::optional<Micros> ModemModel::nextOutputAt(Micros) { return std::nullopt; }
void ModemModel::purgeOutput(Micros) {}
bool ModemModel::gone(Micros) const { return false; }
void ModemModel::pullOut(Micros) {}

}  // namespace modemsim
