// The instruments' side of the line protocol, without any I/O or clock: bytes
// go in with the time they arrived, the bytes to answer with come out, with a
// trace of what was received and sent. Safe to use from several threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mokta/sim/faults.h"
#include "mokta/sim/plant.h"

namespace mokta::sim {

// Time since the simulator started.
using Seconds = std::chrono::duration<double>;

enum class Direction { Rx, Tx };

// One frame received or sent. A tx event with no bytes is an answer that was
// kept back (the silence fault).
struct TraceEvent {
  Seconds time{};
  Direction direction = Direction::Rx;
  std::vector<uint8_t> bytes;
  std::string note;  // "fault: bcc", "ignored: ...", "refused: ..."; empty when nothing to add
};

// "   1.234567 rx 04 81 85 84 05  read request: instrument 01, parameter 5, BCC 84 ok"
// with " [note]" after it when the event has a note.
std::string FormatTrace(const TraceEvent& event);

struct Counters {
  uint64_t requests = 0;        // read requests for an instrument here, with a good BCC
  uint64_t replyBlocks = 0;     // reply blocks sent, repeats included
  uint64_t refusals = 0;        // requests answered with EOT alone
  uint64_t acks = 0;            // ACKs received
  uint64_t naks = 0;            // NAKs received
  uint64_t writesAccepted = 0;  // write frames stored and answered with ACK
  uint64_t writesRefused = 0;   // write frames answered with NAK
  uint64_t ignored = 0;         // frames and bytes nobody here answers
  uint64_t faults = 0;          // faults applied to answers

  friend bool operator==(const Counters&, const Counters&) = default;
};

// What the engine made of a piece of input.
struct Output {
  std::vector<uint8_t> bytes;      // to send, in order
  std::vector<TraceEvent> events;  // received and sent frames, in order
  // An EOT arrived: the master has started a new frame, so whatever of an
  // earlier answer is still waiting to go out should not go.
  bool newFrame = false;
};

class Engine {
 public:
  // Throws PlantError for a plant CheckPlant refuses.
  explicit Engine(const Plant& plant, FaultOptions faults = {});

  // Takes bytes received at time now (times must not go backwards).
  Output Receive(std::span<const uint8_t> bytes, Seconds now);

  // The stored parameter; nullopt when the instrument or parameter does not exist.
  std::optional<Parameter> Get(int id, int pno) const;
  // The value a read at time now answers with, drift included.
  std::optional<uint16_t> LiveValue(int id, int pno, Seconds now);
  // Stores a value (and a format code when given) as a write would, but
  // read-only parameters too. False when the parameter does not exist.
  bool Set(int id, int pno, uint16_t value, std::optional<int> formatCode = std::nullopt);

  Counters GetCounters() const;
  // The instruments and their parameters as stored now.
  Plant Snapshot() const;

 private:
  struct Cell {
    Parameter parameter;
    double level = 0.0;  // for a parameter that follows another
    Seconds last{};
  };
  struct Station {
    int id = 0;
    std::string name;
    std::map<int, Cell> cells;
  };
  struct Reply {
    std::vector<std::vector<uint8_t>> blocks;
    std::size_t index = 0;
  };

  void Take(uint8_t byte, Seconds now, Output& out);
  void FlushStray(Seconds now, Output& out);
  void AnswerRead(Seconds now, Output& out);
  void AnswerWrite(Seconds now, Output& out);
  void ReplyControl(uint8_t byte, Seconds now, Output& out);
  void SendBlock(Seconds now, Output& out);
  Station* FindStation(uint8_t address);
  const Cell* FindCell(int id, int pno) const;
  Cell* FindCell(int id, int pno);
  static void StoreValue(Cell& cell, uint16_t value, Seconds now);
  static uint16_t ValueAt(Station& station, Cell& cell, Seconds now);

  mutable std::mutex mutex_;
  std::map<uint8_t, Station> stations_;  // by address byte
  FaultPlan faults_;
  Counters counters_;
  std::vector<uint8_t> frame_;  // a frame being received, from its EOT
  std::vector<uint8_t> stray_;  // bytes outside any frame, not yet traced
  std::optional<Reply> reply_;  // the reply in progress
  Seconds latest_{};
};

}  // namespace mokta::sim
