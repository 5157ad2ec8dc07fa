#include "batch/RunDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "lang/Language.h"

namespace VEKRiff {

namespace {

const VEK::MessagePair MsgStartLost = {
    {"the start of the file is damaged: the film plays from the first frame found",
     "le début du fichier est endommagé : le film se lit à partir de la première image trouvée"}};
const VEK::MessagePair MsgStretchLost = {{"%s\u2013%s lost (%s s)", "%s\u2013%s perdu (%s s)"}};
// Within one second of the clock.
const VEK::MessagePair MsgMomentLost = {{"%s s lost at %s", "perte de %s s à %s"}};
const VEK::MessagePair MsgNoFrameLost = {
    {"damaged data at %s, no frame lost", "données endommagées à %s, aucune image perdue"}};
const VEK::MessagePair MsgStretchBytes = {{"%d damaged bytes at byte %d", "%d octets endommagés à l'octet %d"}};
const VEK::MessagePair MsgMoreStretches = {{"and %d more damaged stretches", "et %d autres passages endommagés"}};
const VEK::MessagePair MsgOneMoreStretch = {{"and one more damaged stretch", "et un autre passage endommagé"}};
const VEK::MessagePair MsgFilmCut = {{"the film ends at %s instead of %s", "le film s'arrête à %s au lieu de %s"}};
const VEK::MessagePair MsgUnusedTail = {{"bytes after the end of the film that no player reads",
                                         "des octets après la fin du film qu'aucun lecteur ne lit"}};
const VEK::MessagePair MsgFileCut = {{"the file is cut short", "le fichier est tronqué"}};

// The result column's short words about the film.
const VEK::MessagePair MsgLostAt = {{"%s s lost at %s\u2013%s", "%s s perdues à %s\u2013%s"}};
const VEK::MessagePair MsgLostMoment = {{"%s s lost at %s", "%s s perdues à %s"}};
const VEK::MessagePair MsgLostIn = {{"%s s lost in %d places", "%s s perdues en %d endroits"}};
const VEK::MessagePair MsgPlaysTo = {{"plays to %s of %s", "se lit jusqu'à %s sur %s"}};

// The stretches the text names one by one; the rest are counted.
constexpr std::size_t NamedStretches = 3;

// "00:01:23", as the lines place a spot in the film.
std::string FilmClock(const FilmPosition& at) {
  const long long seconds = at.Milliseconds / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

// "00:11", or "1:02:03" past an hour: short, for the result column.
std::string ShortClock(const FilmPosition& at) {
  const long long seconds = at.Milliseconds / 1000;
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  else
    std::snprintf(text, sizeof text, "%02lld:%02lld", seconds / 60, seconds % 60);
  return text;
}

// "0.9", in French "0,9": to the nearest tenth.
std::string Seconds(std::int64_t milliseconds) {
  const long long tenths = (milliseconds + 50) / 100;
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%lld", tenths / 10, tenths % 10);
  std::string s = text;
  if (VEK::LanguageIndex() == VEK::French) std::replace(s.begin(), s.end(), '.', ',');
  return s;
}

std::string StretchText(const LostStretch& s) {
  if (!s.FilmFrom || !s.FilmTo) return VEK::Text(MsgStretchBytes, {s.To - s.From, s.From});
  if (s.FilmTo->Frame <= s.FilmFrom->Frame) return VEK::Text(MsgNoFrameLost, {FilmClock(*s.FilmFrom)});
  // At least a tenth of a second for a stretch that held a frame.
  const std::int64_t ms = std::max<std::int64_t>(100, s.FilmTo->Milliseconds - s.FilmFrom->Milliseconds);
  const std::string from = FilmClock(*s.FilmFrom), to = FilmClock(*s.FilmTo);
  if (from == to) return VEK::Text(MsgMomentLost, {Seconds(ms), from});
  return VEK::Text(MsgStretchLost, {from, to, Seconds(ms)});
}

}  // namespace

std::optional<FileRate> RateOf(std::int64_t fileBytes, int progress, std::int64_t elapsedMs) {
  if (elapsedMs < 2000 || progress <= 0 || fileBytes <= 0) return std::nullopt;
  const double seconds = elapsedMs / 1000.0;
  const double done = static_cast<double>(fileBytes) * progress / 100.0;
  return FileRate{done / seconds, std::llround(seconds * (100 - progress) / progress)};
}

std::string ClockText(std::int64_t seconds) {
  const long long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  char text[32];
  if (h > 0)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", h, m, s);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", m, s);
  return text;
}

bool ShowsDamage(const FileDamage& damage) {
  return damage.Size > 0 && (damage.Count > 0 || !damage.Lost.empty() || damage.UsableEnd < damage.Size);
}

int StripX(const FileDamage& damage, std::int64_t position, int width) {
  const std::int64_t extent = std::max(damage.Size, damage.Extent);
  if (extent <= 0) return 0;
  const double share = static_cast<double>(std::clamp<std::int64_t>(position, 0, extent)) / extent;
  return static_cast<int>(share * width);
}

std::vector<StripSpan> StripSpans(const FileDamage& damage, int width) {
  std::vector<StripSpan> spans;
  auto span = [&](StripPart part, std::int64_t from, std::int64_t to) {
    const int x = StripX(damage, from, width);
    spans.push_back({part, x, std::max(StripX(damage, to, width), x + 1)});
  };
  if (damage.UsableEnd < damage.Size) span(StripPart::Unusable, damage.UsableEnd, damage.Size);
  for (const LostStretch& s : damage.Lost)
    if (s.Kind != LossKind::End) span(StripPart::Lost, s.From, s.To);
  for (const LostStretch& s : damage.Lost)
    if (s.Kind == LossKind::End) span(StripPart::Missing, s.From, s.To);
  return spans;
}

std::string DamageText(const FileDamage& damage) {
  std::string text;
  auto add = [&](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
  std::size_t named = 0;
  for (const LostStretch& s : damage.Lost) {
    if (s.Kind == LossKind::Start) add(VEK::Text(MsgStartLost));
    if (s.Kind == LossKind::Middle && named++ < NamedStretches) add(StretchText(s));
    if (s.Kind == LossKind::End)
      add(damage.FilmEnd && damage.FilmLength
              ? VEK::Text(MsgFilmCut, {FilmClock(*damage.FilmEnd), FilmClock(*damage.FilmLength)})
              : VEK::Text(MsgFileCut));
  }
  // Past the usable data, where no stretch the walk met reaches: another
  // program's bytes after the index, say.
  if (damage.UsableEnd < damage.Size &&
      std::none_of(damage.Lost.begin(), damage.Lost.end(), [&](const LostStretch& s) { return s.To >= damage.Size; }))
    add(VEK::Text(MsgUnusedTail));
  const std::int64_t more = damage.Count - static_cast<std::int64_t>(std::min(named, NamedStretches));
  if (more > 0) add(more == 1 ? VEK::Text(MsgOneMoreStretch) : VEK::Text(MsgMoreStretches, {more}));
  // Said on its own, as a sentence.
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

std::string FilmInWords(const FileDamage& damage) {
  std::int64_t lostMs = 0;
  int places = 0;
  const LostStretch* first = nullptr;
  for (const LostStretch& s : damage.Lost) {
    if (s.Kind != LossKind::Middle || !s.FilmFrom || !s.FilmTo || s.FilmTo->Frame <= s.FilmFrom->Frame) continue;
    lostMs += std::max<std::int64_t>(100, s.FilmTo->Milliseconds - s.FilmFrom->Milliseconds);
    if (!first) first = &s;
    ++places;
  }
  std::string text;
  if (places == 1 && ShortClock(*first->FilmFrom) == ShortClock(*first->FilmTo))
    text = VEK::Text(MsgLostMoment, {Seconds(lostMs), ShortClock(*first->FilmFrom)});
  else if (places == 1)
    text = VEK::Text(MsgLostAt, {Seconds(lostMs), ShortClock(*first->FilmFrom), ShortClock(*first->FilmTo)});
  else if (places > 1)
    text = VEK::Text(MsgLostIn, {Seconds(lostMs), places});
  if (damage.FilmEnd && damage.FilmLength)
    text += (text.empty() ? "" : "; ") +
            VEK::Text(MsgPlaysTo, {ShortClock(*damage.FilmEnd), ShortClock(*damage.FilmLength)});
  return text;
}

}  // namespace VEKRiff
