#include "batch/ExistingOutput.h"

#include "file/NamesOnDisk.h"
#include "lang/Language.h"
#include "util/Paths.h"

namespace VEKRiff {

namespace {
const VEK::MessagePair MsgQuestion = {{"File \"%s\" already exists in folder \"%s\". Overwrite ?",
                                       "Le fichier \"%s\" existe déjà dans le dossier \"%s\". Écraser ?"}};
const VEK::MessagePair MsgCaption = {{"File already exists", "Le fichier existe déjà."}};
const VEK::MessagePair MsgUserAbort = {{"User choose to abort operation.", "L'utilisateur a choisi d'annuler l'opération."}};
const VEK::MessagePair MsgUserSkip = {{"User choose to skip the file.", "L'utilisateur a choisi d'ignorer le fichier."}};
const VEK::MessagePair MsgUserOverwrite = {
    {"User choose to overwrite the file.", "L'utilisateur a choisi d'écraser le fichier."}};
const VEK::MessagePair MsgBehaviorSkip = {{"File skipped because destination file already exists.",
                                           "Le fichier a été ignoré parce que le fichier destination existe déjà."}};
const VEK::MessagePair MsgBehaviorAbort = {
    {"Operation aborted because destination file already exists.",
     "L'opération a été interrompu parce que le fichier destination existe déjà."}};
const VEK::MessagePair MsgBehaviorOverwrite = {
    {"Destination file already exists, it will be overwritten.", "Le fichier destination existe déjà, il sera écrasé."}};
const VEK::MessagePair MsgErrors = {{"Errors : %d", "Erreurs : %d"}};
const VEK::MessagePair MsgVideoFrames = {{"Video Frames : %d", "Images vidéo : %d"}};
const VEK::MessagePair MsgAudioSamples = {{"Audio Samples : %d", "Échantillons audio : %d"}};
}  // namespace

bool OutputExists(const IndexRebuilder& worker) {
  // The name itself is judged: a link there, even one that leads nowhere, is
  // an existing output that a copy would replace.
  return worker.Rule().NamedByPrefix && VEK::NameExists(worker.OutputFileName());
}

std::string OverwriteQuestion(const IndexRebuilder& worker) {
  const std::string& output = worker.OutputFileName();
  return VEK::Text(MsgQuestion, {VEK::ExtractFileName(output), VEK::ExtractFileDir(output)});
}

std::string OverwriteCaption() { return VEK::Text(MsgCaption); }

void ApplyOverwriteAnswer(IndexRebuilder& worker, OverwriteAnswer answer) {
  switch (answer) {
    case OverwriteAnswer::Yes: worker.AddMessage(VEK::Text(MsgUserOverwrite)); break;
    case OverwriteAnswer::No: worker.Skip(VEK::Text(MsgUserSkip)); break;
    case OverwriteAnswer::Cancel: worker.Abort(VEK::Text(MsgUserAbort)); break;
  }
}

void ApplyOverwriteBehavior(IndexRebuilder& worker, int behavior) {
  switch (behavior) {
    case OverwriteSkip: worker.Skip(VEK::Text(MsgBehaviorSkip)); break;
    case OverwriteAbort: worker.Abort(VEK::Text(MsgBehaviorAbort)); break;
    case OverwriteReplace: worker.AddMessage(VEK::Text(MsgBehaviorOverwrite)); break;
    default: break;
  }
}

std::string ErrorsText(std::int64_t count) { return VEK::Text(MsgErrors, {count}); }
std::string VideoFramesText(std::int64_t count) { return VEK::Text(MsgVideoFrames, {count}); }
std::string AudioSamplesText(std::int64_t count) { return VEK::Text(MsgAudioSamples, {count}); }

}  // namespace VEKRiff
