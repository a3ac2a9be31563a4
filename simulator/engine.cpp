#include "mokta/sim/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <utility>

#include "mokta/wire.h"

namespace mokta::sim {
namespace {

using wire::HasHighBit;
using wire::HexByte;

constexpr std::size_t kShortestRequest = 5;
constexpr std::size_t kLongestRequest = 6;

void Received(Seconds now, Output& out, std::vector<uint8_t> bytes, std::string note) {
  out.events.push_back(TraceEvent{now, Direction::Rx, std::move(bytes), std::move(note)});
}

void Sent(Seconds now, Output& out, std::vector<uint8_t> bytes, std::string note) {
  out.bytes.insert(out.bytes.end(), bytes.begin(), bytes.end());
  out.events.push_back(TraceEvent{now, Direction::Tx, std::move(bytes), std::move(note)});
}

}  // namespace

std::string FormatTrace(const TraceEvent& event) {
  std::array<char, 32> time{};
  std::snprintf(time.data(), time.size(), "%11.6f", event.time.count());
  std::string line = time.data();
  line += event.direction == Direction::Rx ? " rx " : " tx ";
  if (event.bytes.empty()) {
    line += "(nothing)";
  } else {
    line += wire::Hex(event.bytes) + "  ";
    std::string meaning;
    for (const std::vector<uint8_t>& frame : wire::SplitFrames(event.bytes)) {
      if (!meaning.empty()) {
        meaning += " | ";
      }
      meaning += wire::Describe(frame).text;
    }
    line += meaning;
  }
  if (!event.note.empty()) {
    line += " [" + event.note + "]";
  }
  return line;
}

Engine::Engine(const Plant& plant, FaultOptions faults) : faults_(std::move(faults)) {
  CheckPlant(plant);
  for (const Instrument& instrument : plant.instruments) {
    Station& station = stations_[AddressByte(instrument.id)];
    station.id = instrument.id;
    station.name = instrument.name;
    for (const auto& [pno, parameter] : instrument.parameters) {
      station.cells[pno] = Cell{parameter, static_cast<double>(parameter.value), Seconds{}};
    }
  }
}

Output Engine::Receive(std::span<const uint8_t> bytes, Seconds now) {
  const std::scoped_lock lock(mutex_);
  latest_ = std::max(latest_, now);
  Output out;
  for (const uint8_t byte : bytes) {
    Take(byte, now, out);
  }
  FlushStray(now, out);
  return out;
}

void Engine::Take(uint8_t byte, Seconds now, Output& out) {
  if (frame_.empty()) {
    if (byte == wire::kEot) {
      FlushStray(now, out);
      frame_.push_back(byte);
      reply_.reset();  // a new frame abandons any reply in progress
      out.newFrame = true;
    } else if (byte == wire::kAck || byte == wire::kNak) {
      FlushStray(now, out);
      ReplyControl(byte, now, out);
    } else {
      stray_.push_back(byte);
    }
    return;
  }
  if (byte == wire::kEot) {
    ++counters_.ignored;
    Received(now, out, frame_, "ignored: cut short by a new EOT");
    frame_.assign(1, wire::kEot);
    out.newFrame = true;
    return;
  }
  frame_.push_back(byte);
  if (frame_.size() > 3 && frame_[3] == wire::kStx) {
    if (frame_.size() == wire::kWriteFrameSize) {
      AnswerWrite(now, out);
      frame_.clear();
    }
    return;
  }
  if (byte == wire::kEnq) {
    AnswerRead(now, out);
    frame_.clear();
    return;
  }
  if (!HasHighBit(byte) || frame_.size() >= kLongestRequest) {
    ++counters_.ignored;
    Received(now, out, frame_, "ignored: not a request");
    frame_.clear();
  }
}

void Engine::FlushStray(Seconds now, Output& out) {
  if (!stray_.empty()) {
    ++counters_.ignored;
    Received(now, out, std::exchange(stray_, {}), "ignored: outside a frame");
  }
}

// EOT, id, pno, [count], BCC, ENQ
void Engine::AnswerRead(Seconds now, Output& out) {
  const std::size_t size = frame_.size();
  Station* station = size >= 2 ? FindStation(frame_[1]) : nullptr;
  if (size < kShortestRequest || station == nullptr) {
    ++counters_.ignored;
    Received(now, out, frame_,
             size < kShortestRequest ? "ignored: too short"
                                     : "ignored: no instrument at address " + HexByte(frame_[1]));
    return;
  }
  if (wire::Bcc(std::span(frame_).subspan(1, size - 3)) != frame_[size - 2]) {
    ++counters_.ignored;
    Received(now, out, frame_, "ignored: BCC wrong, no answer");
    return;
  }
  Received(now, out, frame_, "");
  ++counters_.requests;
  const int pno = frame_[2] & 0x7F;
  const int count = size == kLongestRequest ? frame_[3] & 0x7F : 1;
  std::vector<wire::Element> elements;
  bool complete = count > 0 && pno + count <= wire::kParameterCount;
  for (int p = pno; complete && p < pno + count; ++p) {
    const auto cell = station->cells.find(p);
    if (cell == station->cells.end()) {
      complete = false;
      break;
    }
    elements.push_back(wire::Element{p, ValueAt(*station, cell->second, now),
                                     wire::FormatFieldOf(cell->second.parameter.formatCode)});
  }
  if (!complete) {
    ++counters_.refusals;
    Sent(now, out, {wire::kEot}, "refused: no such parameter");
    return;
  }
  Reply reply;
  for (std::size_t first = 0; first < elements.size(); first += wire::kElementsPerBlock) {
    const std::size_t last = std::min(first + wire::kElementsPerBlock, elements.size());
    reply.blocks.push_back(wire::ReplyBlock(std::span(elements).subspan(first, last - first),
                                            last == elements.size()));
  }
  reply_ = std::move(reply);
  SendBlock(now, out);
}

// ACK steps on to the next block, NAK repeats the last one sent. After the
// last block an ACK ends the reply.
void Engine::ReplyControl(uint8_t byte, Seconds now, Output& out) {
  if (byte == wire::kAck) {
    ++counters_.acks;
  } else {
    ++counters_.naks;
  }
  if (!reply_) {
    Received(now, out, {byte}, "ignored: no reply in progress");
    return;
  }
  Received(now, out, {byte}, "");
  if (byte == wire::kAck) {
    if (reply_->index + 1 >= reply_->blocks.size()) {
      reply_.reset();
      return;
    }
    ++reply_->index;
  }
  SendBlock(now, out);
}

void Engine::SendBlock(Seconds now, Output& out) {
  const std::vector<uint8_t>& block = reply_->blocks[reply_->index];
  ++counters_.replyBlocks;
  const std::optional<FaultKind> fault = faults_.Next();
  if (fault) {
    std::optional<std::vector<uint8_t>> changed = ApplyToBlock(*fault, block);
    if (changed) {
      ++counters_.faults;
      Sent(now, out, std::move(*changed), "fault: " + std::string(FaultName(*fault)));
      return;
    }
  }
  Sent(now, out, block, "");
}

// EOT, id, id, STX, pno, high, middle, low, ETX, BCC
void Engine::AnswerWrite(Seconds now, Output& out) {
  const std::vector<uint8_t>& f = frame_;
  Station* station = FindStation(f[1]);
  if (station == nullptr) {
    ++counters_.ignored;
    Received(now, out, frame_, "ignored: no instrument at address " + HexByte(f[1]));
    return;
  }
  Received(now, out, frame_, "");
  const wire::Element element = wire::DecodeElement(std::span(f).subspan(4, 4));
  const std::optional<int> formatCode = wire::FormatCodeOf(element.formatField);
  const auto cell = station->cells.find(element.pno);
  std::string refusal;
  if (f[1] != f[2]) {
    refusal = "address bytes differ";
  } else if (f[8] != wire::kEtx) {
    refusal = "ETX missing";
  } else if (!std::all_of(f.begin() + 4, f.begin() + 8, HasHighBit)) {
    refusal = "bit 7 missing";
  } else if (wire::Bcc(std::span(f).subspan(4, 5)) != f[9]) {
    refusal = "BCC wrong";
  } else if (!formatCode) {
    refusal = "format field not one code";
  } else if (cell == station->cells.end()) {
    refusal = "no parameter " + std::to_string(element.pno);
  } else if (cell->second.parameter.readOnly) {
    refusal = "parameter " + std::to_string(element.pno) + " is read-only";
  }
  uint8_t answer = wire::kNak;
  if (refusal.empty()) {
    StoreValue(cell->second, element.value, now);
    cell->second.parameter.formatCode = *formatCode;
    ++counters_.writesAccepted;
    answer = wire::kAck;
  } else {
    ++counters_.writesRefused;
    refusal = "refused: " + refusal;
  }
  const std::optional<FaultKind> fault = faults_.Next();
  if (fault) {
    std::optional<std::vector<uint8_t>> changed = ApplyToWriteAnswer(*fault, answer);
    if (changed) {
      ++counters_.faults;
      std::string note = "fault: " + std::string(FaultName(*fault));
      if (!refusal.empty()) {
        note = refusal + ", " + note;
      }
      Sent(now, out, std::move(*changed), note);
      return;
    }
  }
  Sent(now, out, {answer}, refusal);
}

Engine::Station* Engine::FindStation(uint8_t address) {
  const auto station = stations_.find(address);
  return station == stations_.end() ? nullptr : &station->second;
}

const Engine::Cell* Engine::FindCell(int id, int pno) const {
  if (id < 0 || id > wire::kHighestId) {
    return nullptr;
  }
  const auto station = stations_.find(AddressByte(id));
  if (station == stations_.end() || station->second.id != id) {
    return nullptr;
  }
  const auto cell = station->second.cells.find(pno);
  return cell == station->second.cells.end() ? nullptr : &cell->second;
}

Engine::Cell* Engine::FindCell(int id, int pno) {
  return const_cast<Cell*>(std::as_const(*this).FindCell(id, pno));
}

void Engine::StoreValue(Cell& cell, uint16_t value, Seconds now) {
  cell.parameter.value = value;
  cell.level = value;
  cell.last = now;
}

uint16_t Engine::ValueAt(Station& station, Cell& cell, Seconds now) {
  const Parameter& parameter = cell.parameter;
  if (!parameter.drift) {
    return parameter.value;
  }
  const Drift& drift = *parameter.drift;
  double level = parameter.value;
  if (drift.follow) {
    const double target = station.cells.at(*drift.follow).parameter.value;
    const double elapsed = std::max(0.0, (now - cell.last).count());
    if (drift.lag <= 0.0) {
      cell.level = target;
    } else {
      cell.level += (target - cell.level) * (1.0 - std::exp(-elapsed / drift.lag));
    }
    cell.last = std::max(cell.last, now);
    level = cell.level;
  }
  if (drift.period > 0.0) {
    level += drift.amplitude * std::sin(2.0 * std::numbers::pi * now.count() / drift.period);
  }
  return static_cast<uint16_t>(std::clamp(std::round(level), 0.0, 65535.0));
}

std::optional<Parameter> Engine::Get(int id, int pno) const {
  const std::scoped_lock lock(mutex_);
  const Cell* cell = FindCell(id, pno);
  return cell == nullptr ? std::nullopt : std::optional(cell->parameter);
}

std::optional<uint16_t> Engine::LiveValue(int id, int pno, Seconds now) {
  const std::scoped_lock lock(mutex_);
  if (FindCell(id, pno) == nullptr) {
    return std::nullopt;
  }
  Station& station = stations_.at(AddressByte(id));
  return ValueAt(station, station.cells.at(pno), now);
}

bool Engine::Set(int id, int pno, uint16_t value, std::optional<int> formatCode) {
  const std::scoped_lock lock(mutex_);
  Cell* cell = FindCell(id, pno);
  if (cell == nullptr || (formatCode && (*formatCode < 0 || *formatCode >= wire::kFormatCodes))) {
    return false;
  }
  StoreValue(*cell, value, latest_);
  if (formatCode) {
    cell->parameter.formatCode = *formatCode;
  }
  return true;
}

Counters Engine::GetCounters() const {
  const std::scoped_lock lock(mutex_);
  return counters_;
}

Plant Engine::Snapshot() const {
  const std::scoped_lock lock(mutex_);
  Plant plant;
  for (const auto& [address, station] : stations_) {
    Instrument instrument{station.id, station.name, {}};
    for (const auto& [pno, cell] : station.cells) {
      instrument.parameters[pno] = cell.parameter;
    }
    plant.instruments.push_back(std::move(instrument));
  }
  return plant;
}

}  // namespace mokta::sim
