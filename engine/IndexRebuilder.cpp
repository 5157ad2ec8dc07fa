#include "engine/IndexRebuilder.h"

#include <limits>

#include "avi/AviChunk.h"
#include "lang/Language.h"
#include "util/Paths.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

const VEK::MessagePair MsgNotAvi = {{"This is not an AVI File.", "Ce n'est pas un fichier AVI."}};
const VEK::MessagePair MsgNoMovi = {
    {"Unable to locate the MOVI data blocks.", "Impossible de localiser les blocs de données MOVI."}};
const VEK::MessagePair MsgCorrupted = {{"Corrupted data found at file offset %d; Video Frame %d",
                                        "Données corrompues trouvées à l'adresse %d; Image vidéo %d"}};
const VEK::MessagePair MsgResuming = {
    {"Resuming file scanning from offset %d", "Reprise du balayage du fichier à partir de l'adresse %d"}};
const VEK::MessagePair MsgMisaligned = {
    {"Warning! Data blocks are misaligned.", "Attention! Des blocks de données sont mal alignés."}};
const VEK::MessagePair MsgProcessing = {{"Processing file \"%s\"", "Traitement du fichier \"%s\""}};
const VEK::MessagePair MsgChecking = {{"Checking errors...", "Vérification des erreurs..."}};
const VEK::MessagePair MsgRebuilding = {{"Rebuilding index...", "Reconstruction de l'index..."}};
const VEK::MessagePair MsgDone = {{"Done. Found %d errors, %d video frames, %d audio samples",
                                   "Terminé. Trouvé %d erreurs, %d images vidéos, %d échantillons audios"}};
const VEK::MessagePair MsgSkipped = {{"File skipped.", "Fichier ignoré"}};
const VEK::MessagePair MsgAborted = {{"Operation aborted.", "Procédé interrompu"}};
const VEK::MessagePair MsgIndexTooLarge = {
    {"The index of this file cannot be rebuilt: its data reaches beyond the 4 GiB that an idx1 index can address.",
     "L'index de ce fichier ne peut pas être reconstruit : ses données dépassent les 4 Gio qu'un index idx1 peut "
     "adresser."}};
// A read that fails (an I/O error, not the end of the file) is reported as the
// file layer reports a failed exact read: the walk must not mistake it for the
// end of the data and cut the file there.
const VEK::MessagePair MsgReadFailed = {{"Unexpected end of file.", "Fin de fichier inatendu."}};

constexpr std::uint32_t MaxIdx1Value = std::numeric_limits<std::uint32_t>::max();

bool IsSkippableCode(FourCC code) { return code == CodeRec || code == CodeJunk; }

// Percent per byte of the file as it was sized when opened, in single precision.
float ProgressFactor(const BackupFile& file) {
  const std::int64_t size = file.SourceSize();
  return size > 0 ? 100.0f / static_cast<float>(size) : 0.0f;
}

}  // namespace

IndexRebuilder::IndexRebuilder(VEK::HandOverQueue& owner) : VEK::Thread(owner) {}

IndexRebuilder::~IndexRebuilder() { TerminateAndWait(); }

void IndexRebuilder::Start(VEK::RefCount<FileList> files, bool checkOnly, bool keepOriginal) {
  Files = files ? std::move(files) : std::make_shared<FileList>();
  CheckOnly_ = checkOnly;
  KeepOriginal_ = keepOriginal;
  Resume();
}

void IndexRebuilder::Abort(const std::string& outcomeText) {
  OutcomeText = outcomeText;
  Terminate();
}

void IndexRebuilder::Skip(const std::string& outcomeText) {
  OutcomeText = outcomeText;
  SkipRequested = true;
}

void IndexRebuilder::AddMessage(const std::string& text) {
  Message_ = text;
  Notify(MessageAdded);
}

void IndexRebuilder::Notify(RebuildEvent code) {
  Event_ = code;
  if (OnEvent) Synchronize([this] { OnEvent(*this); });
}

void IndexRebuilder::SetProgress(std::int32_t percent) {
  if (Progress_.load(std::memory_order_relaxed) != percent) Progress_.store(percent, std::memory_order_relaxed);
}

void IndexRebuilder::SetProgressAt(std::int64_t position, float factor) {
  // Single precision, truncated toward zero; kept within 0-100 should the
  // file have grown since it was sized.
  const float percent = static_cast<float>(position) * factor;
  SetProgress(percent >= 100.0f ? 100 : percent > 0.0f ? static_cast<std::int32_t>(percent) : 0);
}

void IndexRebuilder::CheckAbort() {
  if (Terminated()) throw AbortException(VEK::Text(MsgAborted));
}

void IndexRebuilder::DiscardOutput() {
  if (OutputCreated) VEK::DeleteFile(OutputFileName_);
  OutputCreated = false;
}

void IndexRebuilder::Execute() {
  int i = 0;
  try {
    while (i < static_cast<int>(Files->size())) {
      OutputCreated = false;
      FileIndex_ = i;
      try {
        ProcessFile((*Files)[i]);
      } catch (const ErrorException& e) {
        DiscardOutput();
        Notify(FileError);
        AddMessage(e.Message());
      } catch (const SkipException& e) {
        DiscardOutput();
        Notify(FileSkipped);
        AddMessage(OutcomeText.empty() ? e.Message() : OutcomeText);
      }
      AddMessage("");
      ++i;
    }
    Terminate();
  } catch (const AbortException& e) {
    // The half-written copy goes first, so that nothing a notification
    // does can leave it behind.
    DiscardOutput();
    Notify(Aborted);
    AddMessage(OutcomeText.empty() ? e.Message() : OutcomeText);
    AddMessage("");
    Terminate();
  } catch (const std::exception& e) {
    DiscardOutput();
    Notify(FileError);
    AddMessage(e.what());
    AddMessage("");
    Terminate();
  }
}

void IndexRebuilder::ChooseOutput(const std::string& path) {
  if (CheckOnly_ || !KeepOriginal_) {
    OutputFileName_ = path;
    return;
  }
  const std::string dir = VEK::ExtractFileDir(path);
  // A bare name has no folder and stays relative: no delimiter is added.
  OutputFileName_ = VEK::IncludeTrailingPathDelimiter(dir) + Prefix +
                    VEK::ExtractFileName(path);
}

void IndexRebuilder::ProcessFile(const std::string& path) {
  OutputCreated = false;
  SkipRequested = false;
  ErrorCount_.store(0, std::memory_order_relaxed);
  VideoFrameCount_.store(0, std::memory_order_relaxed);
  AudioSampleCount_.store(0, std::memory_order_relaxed);
  SetProgress(0);
  ChooseOutput(path);
  Notify(FileStarted);
  AddMessage(VEK::Text(MsgProcessing, {VEK::ExtractFileName(path)}));
  Notify(FileOpening);
  CheckAbort();
  if (SkipRequested) throw SkipException(VEK::Text(MsgSkipped));

  VEK::AutoPtr<BackupFile> file = std::make_unique<BackupFile>(path, OutputFileName_, !CheckOnly_);
  OutputCreated = !CheckOnly_ && KeepOriginal_ && !file->InPlace();
  CheckRiffHeader(*file);
  AddMessage(VEK::Text(CheckOnly_ ? MsgChecking : MsgRebuilding));
  const std::int64_t moviOffset = LocateMovi(*file);
  IndexEntries entries;
  ScanMovi(*file, moviOffset, entries);
  if (CheckOnly_) {
    Notify(ErrorCount() > 0 ? FileError : FileOk);
  } else {
    WriteIndex(*file, entries, moviOffset);
    file->Truncate();
    // The copy is complete: from here on nothing deletes it.
    OutputCreated = false;
    Notify(FileRebuilt);
  }
  AddMessage(VEK::Text(MsgDone, {ErrorCount(), VideoFrameCount(), AudioSampleCount()}));
  entries.clear();
  file.reset();
}

void IndexRebuilder::CheckRiffHeader(BackupFile& file) {
  unsigned char header[ListHeader::Size];
  const std::int64_t n = file.ReadSome(header, sizeof header);
  if (n < 0) throw VEKFile::File::Exception(VEK::Text(MsgReadFailed));
  const ListHeader riff = ListHeader::Load(header);
  if (n < ListHeader::Size || riff.Chunk.Code != CodeRiff || riff.ListType != CodeAvi)
    throw ErrorException(VEK::Text(MsgNotAvi));
}

std::int64_t IndexRebuilder::LocateMovi(BackupFile& file) {
  if (file.Position() & 1) file.Seek(1, 1);
  for (;;) {
    CheckAbort();
    const std::int64_t headerPosition = file.Position();
    unsigned char header[ListHeader::Size];
    const std::int64_t n = file.ReadSome(header, sizeof header);
    if (n < 0) throw VEKFile::File::Exception(VEK::Text(MsgReadFailed));
    if (n < ListHeader::Size) throw ErrorException(VEK::Text(MsgNoMovi));
    const ListHeader list = ListHeader::Load(header);
    if (list.Chunk.Code == CodeList && list.ListType == CodeMovi) return headerPosition;
    // Skip the chunk or list whole: 'hdrl' and the like are not entered.
    std::int64_t next = headerPosition + ChunkHeader::Size + list.Chunk.DataSize;
    next += next & 1;
    file.Seek(next, 0);
  }
}

void IndexRebuilder::ScanMovi(BackupFile& file, std::int64_t moviOffset, IndexEntries& entries) {
  const std::int64_t fileSize = file.SourceSize();
  const float factor = ProgressFactor(file);
  const std::int64_t moviData = moviOffset + ChunkHeader::Size;
  int parity = 0;
  for (;;) {
    CheckAbort();
    const std::int64_t pos = file.Position();
    SetProgressAt(pos, factor);
    unsigned char bytes[ChunkHeader::Size];
    const std::int64_t n = file.ReadSome(bytes, sizeof bytes);
    if (n < 0) throw VEKFile::File::Exception(VEK::Text(MsgReadFailed));
    const ChunkHeader header = ChunkHeader::Load(bytes);
    if (n < ChunkHeader::Size || header.Code == CodeIdx1) {
      file.Seek(pos, 0);
      return;
    }
    const bool stream = IsStreamChunkId(bytes);
    if (!stream && !IsSkippableCode(header.Code)) {
      // A corrupted spot: search forward for the next recognisable code.
      file.Seek(pos, 0);
      const ResyncResult result = Resynchronise(file, parity);
      const std::int64_t p = file.Position();
      if (result == ResyncResult::FoundIndex) return;  // garbage just before idx1 is not an error
      AddMessage(VEK::Text(MsgCorrupted, {pos, VideoFrameCount()}));
      ErrorCount_.store(ErrorCount() + 1, std::memory_order_relaxed);
      if (result == ResyncResult::ReachedEnd) {
        // Nothing recognisable up to the end of the file (a zero-filled tail
        // of a partial download, typically): the usable data ends here.
        file.Seek(pos, 0);
        return;
      }
      AddMessage(VEK::Text(MsgResuming, {p}));
      if (p & 1) AddMessage(VEK::Text(MsgMisaligned));
      continue;
    }
    if (stream) {
      const std::uint16_t kind = ChunkKind(header.Code);
      if (kind == KindCompressedVideo || kind == KindUncompressedVideo)
        VideoFrameCount_.store(VideoFrameCount() + 1, std::memory_order_relaxed);
      else if (kind == KindAudio)
        AudioSampleCount_.store(AudioSampleCount() + 1, std::memory_order_relaxed);
    }
    // 64-bit arithmetic: no size field can move the walk backwards or keep it in place.
    std::int64_t next = pos + ChunkHeader::Size + header.DataSize;
    next += (next & 1) ^ parity;
    if (next > fileSize) {
      // The chunk runs past the end of the file: the index is written over its header.
      file.Seek(pos, 0);
      return;
    }
    if (stream && !CheckOnly_) {
      const std::int64_t offset = pos - moviData;
      if (offset > MaxIdx1Value || entries.size() >= MaxIdx1Value / Idx1Entry::Size)
        throw ErrorException(VEK::Text(MsgIndexTooLarge));
      entries.push_back({header.Code, AVIIF_KEYFRAME, static_cast<std::uint32_t>(offset), header.DataSize});
    }
    file.Seek(next, 0);
  }
}

IndexRebuilder::ResyncResult IndexRebuilder::Resynchronise(BackupFile& file, int& parity) {
  const float factor = ProgressFactor(file);
  if (!SearchBuffer) SearchBuffer.reset(new unsigned char[SearchBlock]);
  unsigned char* const buffer = SearchBuffer.get();
  for (;;) {
    CheckAbort();
    const std::int64_t base = file.Position();
    const std::int64_t n = file.ReadSome(buffer, SearchBlock);
    if (n < 0) throw VEKFile::File::Exception(VEK::Text(MsgReadFailed));
    if (n <= 8) return ResyncResult::ReachedEnd;
    // Progress moves once per block rather than at every byte: the display
    // polls it a few times a second, and a percent spans far more than a block.
    SetProgressAt(base, factor);
    const std::size_t limit = static_cast<std::size_t>(n - 8);
    const std::size_t i = FindResyncCode(buffer, limit);
    if (i < limit) {
      const std::int64_t found = base + static_cast<std::int64_t>(i);
      SetProgressAt(found, factor);
      file.Seek(found, 0);
      parity = static_cast<int>(found & 1);
      return VEK::LoadLe32(buffer + i) == CodeIdx1 ? ResyncResult::FoundIndex : ResyncResult::Resumed;
    }
    // Step back 8 bytes so that a code straddling two blocks is still seen.
    file.Seek(file.Position() - 8, 0);
  }
}

void IndexRebuilder::WriteIndex(BackupFile& file, const IndexEntries& entries, std::int64_t moviOffset) {
  std::int64_t e = file.Position();
  // Everything that must fit the 32-bit fields is checked before the first
  // byte is written, so a file that cannot be indexed is left as it was.
  const std::int64_t listSize = e + (e & 1) - moviOffset - ChunkHeader::Size;
  if (listSize > MaxIdx1Value || entries.size() > MaxIdx1Value / Idx1Entry::Size)
    throw ErrorException(VEK::Text(MsgIndexTooLarge));
  // In place, a file that another program cut short during the walk no
  // longer holds the chunks just indexed: writing at e would fill the gap
  // with zeros and call the result rebuilt. (A copy finds out by itself: the
  // bytes it still has to copy are missing.)
  if (file.InPlace()) {
    if (file.Seek(0, 2) < e) throw VEKFile::File::Exception(VEK::Text(MsgReadFailed));
    file.Seek(e, 0);
  }
  if (e & 1) {
    file.WriteByte(0);
    ++e;
  }
  unsigned char header[ChunkHeader::Size];
  file.Seek(moviOffset, 0);
  file.Read(header, sizeof header);
  VEK::StoreLe32(header + 4, static_cast<std::uint32_t>(listSize));
  file.Seek(moviOffset, 0);
  file.Write(header, sizeof header);

  file.Seek(e, 0);
  ChunkHeader{CodeIdx1, static_cast<std::uint32_t>(entries.size() * Idx1Entry::Size)}.Store(header);
  file.Write(header, sizeof header);
  // Entries go out in blocks, not one 16-byte write each: the bytes are the same.
  constexpr std::size_t PerBlock = 4096;
  std::vector<unsigned char> block(PerBlock * Idx1Entry::Size);
  std::size_t filled = 0;
  for (const OldIndexEntry& entry : entries) {
    Idx1Entry{entry.ChunkId, entry.Flags, entry.Offset, entry.Size}.Store(&block[filled * Idx1Entry::Size]);
    if (++filled == PerBlock) {
      file.Write(block.data(), static_cast<std::int64_t>(block.size()));
      filled = 0;
    }
  }
  if (filled > 0) file.Write(block.data(), static_cast<std::int64_t>(filled * Idx1Entry::Size));
}

}  // namespace VEKRiff
