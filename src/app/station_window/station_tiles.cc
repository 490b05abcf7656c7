#include "app/station_window/station_tiles.h"

#include <algorithm>
#include <cctype>

#include "app/cli/exit_status.h"

namespace kt {

bool IsResult(TileState state) {
  return state == TileState::kOk || state == TileState::kFailed || state == TileState::kNotRecorded ||
         state == TileState::kStuck;
}

namespace {

// "sim-2" before "sim-10": runs of digits compare by their value.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t iEnd = i, jEnd = j;
      while (iEnd < a.size() && std::isdigit(static_cast<unsigned char>(a[iEnd]))) ++iEnd;
      while (jEnd < b.size() && std::isdigit(static_cast<unsigned char>(b[jEnd]))) ++jEnd;
      const std::string x = a.substr(i, iEnd - i), y = b.substr(j, jEnd - j);
      const std::size_t xz = x.find_first_not_of('0'), yz = y.find_first_not_of('0');
      const std::string xv = xz == std::string::npos ? "" : x.substr(xz);
      const std::string yv = yz == std::string::npos ? "" : y.substr(yz);
      if (xv.size() != yv.size()) return xv.size() < yv.size();
      if (xv != yv) return xv < yv;
      i = iEnd;
      j = jEnd;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

StationTiles::StationTiles(const std::vector<Slot>& slots) {
  for (const Slot& slot : slots) {
    if (std::any_of(tiles_.begin(), tiles_.end(), [&](const Tile& t) { return t.port == slot.first; })) {
      continue;
    }
    tiles_.push_back({slot.first, slot.second, TileState::kEmpty, 0, "empty"});
  }
  slotCount_ = tiles_.size();
}

void StationTiles::SetChangeHandler(std::function<void()> changed) {
  std::lock_guard<std::mutex> lock(mutex_);
  changed_ = std::move(changed);
}

void StationTiles::SetResultHandler(std::function<void(bool ok)> result) {
  std::lock_guard<std::mutex> lock(mutex_);
  result_ = std::move(result);
}

StationTiles::Snapshot StationTiles::Take() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {header_, tiles_, running_};
}

Tile& StationTiles::TileAt(const std::string& port) {
  const auto found = std::find_if(tiles_.begin(), tiles_.end(), [&](const Tile& t) { return t.port == port; });
  if (found != tiles_.end()) return *found;
  // After the slots, the other ports in natural order, whichever board's job started first.
  const auto place = std::find_if(tiles_.begin() + static_cast<std::ptrdiff_t>(slotCount_), tiles_.end(),
                                  [&](const Tile& t) { return NaturalLess(port, t.port); });
  return *tiles_.insert(place, {port, port, TileState::kEmpty, 0, "empty"});
}

// The handlers run outside the lock: a window may take a snapshot from inside them.
void StationTiles::Changed() {
  std::function<void()> changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed = changed_;
  }
  if (changed) changed();
}

void StationTiles::Begin(const StationFacts& facts) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    header_.image = facts.imageFile.empty() ? "built-in" : facts.imageFile;
    header_.sha12 = facts.imageSha256.substr(0, 12);
    header_.firmware = facts.imageFirmware ? HexWord(*facts.imageFirmware) : "none";
    header_.record = facts.recordFile.empty() ? "none" : facts.recordFile;
    header_.simulated = facts.simulated;
    header_.evbIds = facts.evbIds;
  }
  Changed();
}

void StationTiles::JobStarted(const std::string& port) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Tile& tile = TileAt(port);
    tile.state = TileState::kWriting;
    tile.percent = 0;
    tile.text = "writing 0%";
    ++running_;
  }
  Changed();
}

void StationTiles::Box(const std::string& port, const std::string& text, const std::string&, MessageIcon,
                       StationBox kind) {
  // The result box comes again as the result, with what the record made of it.
  if (kind == StationBox::kResult) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Tile& tile = TileAt(port);
    if (kind == StationBox::kReplug) {
      tile.state = TileState::kReplug;
      tile.text = "erased: waiting for the re-plug";
    } else {
      tile.text = text;  // a message on the way; the job goes on
    }
  }
  Changed();
}

void StationTiles::Progress(const std::string& port, int position) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Tile& tile = TileAt(port);
    tile.state = TileState::kWriting;
    tile.percent = position;
    tile.text = "writing " + std::to_string(position) + "%";
  }
  Changed();
}

void StationTiles::Result(const JobOutcome& outcome) {
  const bool ok = outcome.exitStatus == kExitOk && outcome.recorded != false;
  std::function<void(bool)> result;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Tile& tile = TileAt(outcome.port);
    tile.text = outcome.text;
    if (outcome.recorded == false) {
      tile.state = TileState::kNotRecorded;
      tile.text += " (NOT RECORDED)";
      ++header_.notRecorded;
    } else if (outcome.stage == "stuck") {
      tile.state = TileState::kStuck;
      ++header_.failed;
    } else if (ok) {
      tile.state = TileState::kOk;
      ++header_.succeeded;
    } else {
      tile.state = TileState::kFailed;
      ++header_.failed;
    }
    --running_;
    result = result_;
  }
  if (result) result(ok);
  Changed();
}

void StationTiles::Summary(int succeeded, int failed, int notRecorded, int) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    header_.succeeded = succeeded;
    header_.failed = failed;
    header_.notRecorded = notRecorded;
  }
  Changed();
}

void StationTiles::Note(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    header_.message = text;
  }
  Changed();
}

void StationTiles::Error(const std::string& text) {
  Note(text);
}

}  // namespace kt
