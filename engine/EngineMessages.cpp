#include "engine/EngineMessages.h"

namespace VEKRiff::Msg {

const VEK::MessagePair NotAvi = {{"This is not an AVI File.", "Ce n'est pas un fichier AVI."}};
const VEK::MessagePair NoMovi = {
    {"Unable to locate the MOVI data blocks.", "Impossible de localiser les blocs de données MOVI."}};
// Names the video frame (see LineNamesFrame).
const VEK::MessagePair Corrupted = {{"Corrupted data found at file offset %d; Video Frame %d",
                                     "Données corrompues trouvées à l'adresse %d; Image vidéo %d"}};
const VEK::MessagePair Resuming = {
    {"Resuming file scanning from offset %d", "Reprise du balayage du fichier à partir de l'adresse %d"}};
const VEK::MessagePair Misaligned = {
    {"Warning! Data blocks are misaligned.", "Attention ! Des blocs de données sont mal alignés."}};
const VEK::MessagePair Processing = {{"Processing file \"%s\"", "Traitement du fichier \"%s\""}};
const VEK::MessagePair Checking = {{"Checking errors...", "Vérification des erreurs..."}};
const VEK::MessagePair Rebuilding = {{"Rebuilding index...", "Reconstruction de l'index..."}};
// French makes each noun agree with its count: singular below two (0 and 1),
// plural from two on. English has one form.
const VEK::MessagePair DoneLine = {{"Done. Found %d errors, %d video frames, %d audio samples", "Terminé. %s, %s, %s"}};
const VEK::MessagePair DoneErrors = {{"%d errors", "%d erreurs trouvées"}};
const VEK::MessagePair DoneOneError = {{"%d errors", "%d erreur trouvée"}};
const VEK::MessagePair DoneFrames = {{"%d video frames", "%d images vidéo"}};
const VEK::MessagePair DoneOneFrame = {{"%d video frames", "%d image vidéo"}};
const VEK::MessagePair DoneSamples = {{"%d audio samples", "%d échantillons audio"}};
const VEK::MessagePair DoneOneSample = {{"%d audio samples", "%d échantillon audio"}};

std::string DoneText(std::int64_t errors, std::int64_t videoFrames, std::int64_t audioSamples) {
  if (VEK::LanguageIndex() != VEK::French) return VEK::Text(DoneLine, {errors, videoFrames, audioSamples});
  auto counted = [](std::int64_t n, const VEK::MessagePair& one, const VEK::MessagePair& many) {
    return VEK::Text(n < 2 ? one : many, {n});
  };
  return VEK::Text(DoneLine, {counted(errors, DoneOneError, DoneErrors), counted(videoFrames, DoneOneFrame, DoneFrames),
                              counted(audioSamples, DoneOneSample, DoneSamples)});
}
const VEK::MessagePair Skipped = {{"File skipped.", "Fichier ignoré."}};
const VEK::MessagePair NoRepairNeeded = {
    {"The file needs no repair: it was left as it is.",
     "Le fichier n'a besoin d'aucune réparation : il a été laissé tel quel."}};
const VEK::MessagePair Aborted = {{"Operation aborted.", "Procédé interrompu."}};
const VEK::MessagePair IndexTooLarge = {
    {"The index of this file cannot be rebuilt: its data reaches beyond the 4 GiB that an idx1 index can address.",
     "L'index de ce fichier ne peut pas être reconstruit : ses données dépassent les 4 Gio qu'un index idx1 peut "
     "adresser."}};
// The OpenDML writer checks these before it writes anything, so the file is
// always left as it was when one of them is reported.
const VEK::MessagePair OdmlNoIndexSpace = {
    {"The OpenDML index of stream %d cannot be rebuilt: its header keeps no room for a super index (no indx chunk "
     "and no JUNK reserve). Nothing was written.",
     "L'index OpenDML du flux %d ne peut pas être reconstruit : son en-tête ne réserve aucune place pour un super "
     "index (ni bloc indx ni réserve JUNK). Rien n'a été écrit."}};
const VEK::MessagePair OdmlIndexSpaceTooSmall = {
    {"The OpenDML index of stream %d cannot be rebuilt: its header has room for %d super index entries and %d are "
     "needed. Nothing was written.",
     "L'index OpenDML du flux %d ne peut pas être reconstruit : son en-tête a de la place pour %d entrées de super "
     "index et il en faut %d. Rien n'a été écrit."}};
const VEK::MessagePair OdmlSegmentTooLarge = {
    {"The OpenDML indexes of this file cannot be rebuilt: a RIFF segment or a chunk would exceed the sizes its "
     "32-bit fields can hold. Nothing was written.",
     "Les index OpenDML de ce fichier ne peuvent pas être reconstruits : un segment RIFF ou un bloc dépasserait les "
     "tailles que ses champs de 32 bits peuvent contenir. Rien n'a été écrit."}};
const VEK::MessagePair OdmlBadSegments = {
    {"The OpenDML indexes of this file cannot be rebuilt: its RIFF segments overlap or hold data outside their movi "
     "lists. Nothing was written.",
     "Les index OpenDML de ce fichier ne peuvent pas être reconstruits : ses segments RIFF se chevauchent ou "
     "contiennent des données hors de leurs listes movi. Rien n'a été écrit."}};
const VEK::MessagePair HeaderDamaged = {
    {"The header list is damaged at file offset %d; the MOVI data blocks were found by searching for them.",
     "La liste d'en-têtes est endommagée à l'adresse %d; les blocs de données MOVI ont été trouvés en les "
     "recherchant."}};
const VEK::MessagePair NoIndex = {
    {"The file has no index (idx1): players cannot seek in it.",
     "Le fichier n'a pas d'index (idx1) : les lecteurs ne peuvent pas s'y déplacer."}};
const VEK::MessagePair IndexWrongEntries = {
    {"The index has %d entries that point at no chunk of the data.",
     "L'index a %d entrées qui ne désignent aucun bloc des données."}};
const VEK::MessagePair IndexMissingEntries = {
    {"The index lacks %d chunks of the data.", "Il manque à l'index %d blocs des données."}};
const VEK::MessagePair IndexWrongKeyFrames = {
    {"The index marks %d frames as key frames or not against what their data says.",
     "L'index marque %d images comme images clés ou non contrairement à leurs données."}};
const VEK::MessagePair IndexSkipsDamage = {
    {"The file's own index skips every damaged stretch (%d): players pass over them, so they count as no error.",
     "L'index du fichier saute chaque zone endommagée (%d) : les lecteurs les passent, elles ne comptent donc pas "
     "comme des erreurs."}};
const VEK::MessagePair HeaderFrames = {
    {"The header says the file has %d frames, the data holds %d.",
     "L'en-tête annonce %d images, les données en contiennent %d."}};
const VEK::MessagePair HeaderLength = {
    {"The header of stream %d gives a length of %d, the data holds %d.",
     "L'en-tête du flux %d annonce une longueur de %d, les données en contiennent %d."}};
const VEK::MessagePair ListSizes = {
    {"The size fields of %d RIFF and movi lists do not match the data they hold.",
     "Les champs de taille de %d listes RIFF et movi ne correspondent pas aux données qu'elles contiennent."}};
const VEK::MessagePair FileCut = {
    {"The file ends inside a chunk at file offset %d: it was cut short.",
     "Le fichier se termine au milieu d'un bloc à l'adresse %d : il a été tronqué."}};
const VEK::MessagePair DataAfterIndex = {
    {"%d bytes after the index were left out: the movi list at file offset %d is not reached by any RIFF header.",
     "%d octets après l'index ont été laissés de côté : aucun en-tête RIFF ne mène à la liste movi à l'adresse %d."}};
const VEK::MessagePair SegmentLeftOut = {
    {"%d bytes before the RIFF header at file offset %d were left out: the movi list at file offset %d is not "
     "reached by any RIFF header.",
     "%d octets avant l'en-tête RIFF à l'adresse %d ont été laissés de côté : aucun en-tête RIFF ne mène à la liste "
     "movi à l'adresse %d."}};
const VEK::MessagePair SegmentRiffLost = {
    {"The RIFF header at file offset %d is damaged: the segment is read from its movi list at file offset %d, and a "
     "rebuild writes that header again.",
     "L'en-tête RIFF à l'adresse %d est endommagé : le segment est lu à partir de sa liste movi à l'adresse %d, et "
     "une reconstruction réécrit cet en-tête."}};
const VEK::MessagePair CopyIsSource = {
    {"The copy \"%s\" would be this very file (a link to it, or the same file under another name): a copy never "
     "changes its source. Nothing was written.",
     "La copie \"%s\" serait ce fichier même (un lien vers lui, ou le même fichier sous un autre nom) : une copie ne "
     "modifie jamais sa source. Rien n'a été écrit."}};
const VEK::MessagePair SourceChanged = {
    {"The file changed while it was being read (another program is writing to it). It was left as it was; rebuild "
     "it once that program has finished.",
     "Le fichier a changé pendant sa lecture (un autre programme y écrit). Il a été laissé tel quel ; reconstruisez-le "
     "quand ce programme aura terminé."}};
const VEK::MessagePair SourceChangedWhileWriting = {
    {"The file changed while its new index was being written (another program is writing to it). The index was "
     "written but the file was not cut after it; rebuild it again once that program has finished.",
     "Le fichier a changé pendant l'écriture de son nouvel index (un autre programme y écrit). L'index a été écrit "
     "mais le fichier n'a pas été coupé après lui ; reconstruisez-le de nouveau quand ce programme aura terminé."}};
// In place, where the kernel grants no lease on the file, the line that
// starts the writing.
const VEK::MessagePair NoLease = {
    {"Other programs cannot be kept away from the file while its new index is written (%s); one that writes to it "
     "meanwhile is noticed only by the change in the file's size or date.",
     "Les autres programmes ne peuvent pas être tenus à l'écart du fichier pendant l'écriture de son nouvel index "
     "(%s) ; celui qui y écrit entre-temps n'est remarqué que par le changement de taille ou de date du fichier."}};
const VEK::MessagePair NotOwner = {{"the file belongs to another user", "le fichier appartient à un autre utilisateur"}};
const VEK::MessagePair OpenedWhileWriting = {
    {"Another program opened the file while its new index was being written. The index was written but the file was "
     "not cut after it; rebuild it again once that program has finished.",
     "Un autre programme a ouvert le fichier pendant l'écriture de son nouvel index. L'index a été écrit mais le "
     "fichier n'a pas été coupé après lui ; reconstruisez-le de nouveau quand ce programme aura terminé."}};
const VEK::MessagePair WriteFailedUnchanged = {
    {"The new index could not be written (%s). The file was not changed.",
     "Le nouvel index n'a pas pu être écrit (%s). Le fichier n'a pas été modifié."}};
const VEK::MessagePair WriteFailedChanged = {
    {"The new index could not be written completely (%s). The file was changed: rebuild it again once the cause is "
     "fixed.",
     "Le nouvel index n'a pas pu être écrit entièrement (%s). Le fichier a été modifié : reconstruisez-le de nouveau "
     "une fois la cause corrigée."}};
const VEK::MessagePair CopyWriteFailed = {
    {"The copy could not be written (%s). The source was not changed and the unfinished copy was deleted.",
     "La copie n'a pas pu être écrite (%s). La source n'a pas été modifiée et la copie inachevée a été supprimée."}};
// A copy's source whose size or date changed between its opening and the
// copy's rename: the copy may hold bytes from before and after the change.
const VEK::MessagePair CopySourceChanged = {
    {"The file \"%s\" changed while it was being copied (another program wrote to it or cut it short). The unfinished "
     "copy was deleted and the file was left as it is; rebuild it once that program has finished.",
     "Le fichier \"%s\" a changé pendant sa copie (un autre programme y a écrit ou l'a raccourci). La copie inachevée "
     "a été supprimée et le fichier a été laissé tel quel ; reconstruisez-le quand ce programme aura terminé."}};
const VEK::MessagePair ReferenceUnopenable = {
    {"The reference file \"%s\" could not be opened (%s). Nothing was written.",
     "Le fichier de référence \"%s\" n'a pas pu être ouvert (%s). Rien n'a été écrit."}};
const VEK::MessagePair ReferenceIsThisFile = {
    {"The reference file \"%s\" is the very file being rebuilt: a reference is another, healthy file from the same "
     "camera or encoder. Nothing was written.",
     "Le fichier de référence \"%s\" est le fichier même en cours de reconstruction : une référence est un autre "
     "fichier, sain, de la même caméra ou du même encodeur. Rien n'a été écrit."}};

const VEK::MessagePair StartLost = {
    {"The start of the file is damaged: there is no RIFF header. Its data was found at offset %d.",
     "Le début du fichier est endommagé : il n'y a pas d'en-tête RIFF. Ses données ont été trouvées à l'adresse %d."}};
const VEK::MessagePair MainHeaderMissing = {
    {"The main header (avih) is missing or damaged.", "L'en-tête principal (avih) est absent ou endommagé."}};
const VEK::MessagePair MainHeaderFrameTime = {
    {"The main header (avih) gives %d microseconds per frame.",
     "L'en-tête principal (avih) indique %d microsecondes par image."}};
const VEK::MessagePair StreamWithoutHeader = {
    {"Stream %d has %d chunks but no stream header (strl).",
     "Le flux %d a %d blocs mais pas d'en-tête de flux (strl)."}};
const VEK::MessagePair StreamHeaderDamaged = {
    {"The stream header (strh) of stream %d is missing or damaged; the stream has %d chunks.",
     "L'en-tête (strh) du flux %d est absent ou endommagé ; le flux a %d blocs."}};
const VEK::MessagePair StreamTypeWrong = {
    {"The stream header of stream %d says \"%s\", but its %d chunks are \"%s\".",
     "L'en-tête du flux %d indique \"%s\", mais ses %d blocs sont des \"%s\"."}};
const VEK::MessagePair StreamKeptAsData = {
    {"Stream %d keeps its %d chunks as data of an unknown format: players pass over it.",
     "Le flux %d garde ses %d blocs comme données d'un format inconnu : les lecteurs le passent."}};
const VEK::MessagePair StreamRateZero = {
    {"The stream header of stream %d gives a rate of %d per %d units: players cannot time it.",
     "L'en-tête du flux %d indique une cadence de %d pour %d unités : les lecteurs ne peuvent pas le minuter."}};
const VEK::MessagePair FormatDamaged = {
    {"The format (strf) of stream %d is missing or damaged.", "Le format (strf) du flux %d est absent ou endommagé."}};
const VEK::MessagePair FormatCodecWrong = {
    {"The format of stream %d says \"%s\", but its data is %s.",
     "Le format du flux %d indique \"%s\", mais ses données sont du %s."}};
const VEK::MessagePair FormatSizeWrong = {
    {"The format of stream %d says %dx%d pixels, but its data is %dx%d.",
     "Le format du flux %d indique %dx%d pixels, mais ses données sont en %dx%d."}};
const VEK::MessagePair FormatAudioWrong = {
    {"The format of stream %d says %d Hz and %d channels, but its data is %d Hz and %d channels.",
     "Le format du flux %d indique %d Hz et %d canaux, mais ses données sont en %d Hz et %d canaux."}};
const VEK::MessagePair FormatNoCodecData = {
    {"The format of stream %d lacks the codec data that %s needs to be decoded.",
     "Le format du flux %d n'a pas les données de codec dont le %s a besoin pour être décodé."}};
const VEK::MessagePair HeaderListRebuilt = {
    {"A new header list was written from the data.", "Une nouvelle liste d'en-têtes a été écrite d'après les données."}};
const VEK::MessagePair FrameRateAssumed = {
    {"The frame rate is not in the data: 25 frames per second assumed. Give a reference file for the right one.",
     "La fréquence d'images n'est pas dans les données : 25 images par seconde supposées. Donnez un fichier de "
     "référence pour la bonne."}};
const VEK::MessagePair VideoFormatUnknown = {
    {"The video format of stream %d is not in the data: players will not show it. Give a reference file for it.",
     "Le format vidéo du flux %d n'est pas dans les données : les lecteurs ne l'afficheront pas. Donnez un fichier "
     "de référence pour lui."}};
const VEK::MessagePair AudioFormatAssumed = {
    {"The audio format of stream %d is not in the data: PCM, %d Hz, %d channels, %d bits assumed. Give a reference "
     "file for the right one.",
     "Le format audio du flux %d n'est pas dans les données : PCM, %d Hz, %d canaux, %d bits supposés. Donnez un "
     "fichier de référence pour le bon."}};
const VEK::MessagePair AudioFormatUnknown = {
    {"The audio format of stream %d is not in the data: players will not play it. Give a reference file for it.",
     "Le format audio du flux %d n'est pas dans les données : les lecteurs ne le joueront pas. Donnez un fichier de "
     "référence pour lui."}};
const VEK::MessagePair VideoFormatGuessed = {
    {"The video format of stream %d is not in the data: \"%s\" at %dx%d assumed from what is left of the headers. "
     "Give a reference file for the right one.",
     "Le format vidéo du flux %d n'est pas dans les données : \"%s\" en %dx%d supposé d'après ce qui reste des "
     "en-têtes. Donnez un fichier de référence pour le bon."}};
const VEK::MessagePair CodecDataMissing = {
    {"The codec data of stream %d (%s) is not in the data: players may not decode it. Give a reference file for it.",
     "Les données de codec du flux %d (%s) ne sont pas dans les données : les lecteurs risquent de ne pas le décoder. "
     "Donnez un fichier de référence pour lui."}};
const VEK::MessagePair HeaderOddStart = {
    {"The movi list starts on an odd position (file offset %d): no new header list can end there. The file was left "
     "untouched. Rebuild a copy instead.",
     "La liste movi commence à une position impaire (adresse %d) : aucune nouvelle liste d'en-têtes ne peut s'y "
     "terminer. Le fichier n'a pas été modifié. Reconstruisez plutôt une copie."}};
const VEK::MessagePair HeaderDataMoved = {
    {"A new header list does not fit before the first chunk kept: in the copy, the data was moved %d bytes along to "
     "make room for it.",
     "Une nouvelle liste d'en-têtes ne tient pas avant le premier bloc conservé : dans la copie, les données ont été "
     "décalées de %d octets pour lui faire place."}};
const VEK::MessagePair HeaderNoRoomInPlace = {
    {"A new header list does not fit before the first chunk kept (%d bytes there, %d needed): the file was left "
     "untouched. Rebuild a copy instead.",
     "Une nouvelle liste d'en-têtes ne tient pas avant le premier bloc conservé (%d octets disponibles, %d "
     "nécessaires) : le fichier n'a pas été modifié. Reconstruisez plutôt une copie."}};
const VEK::MessagePair MoviHeaderLostInPlace = {
    {"The movi list's header is lost: a new one written in place would give players an empty list until the "
     "index is complete, where they now find its chunks. The file was left untouched. Rebuild a copy instead.",
     "L'en-tête de la liste movi est perdu : un nouvel en-tête écrit sur place donnerait aux lecteurs une liste "
     "vide tant que l'index n'est pas complet, alors qu'ils en trouvent aujourd'hui les blocs. Le fichier n'a pas "
     "été modifié. Reconstruisez plutôt une copie."}};
const VEK::MessagePair InPlaceMayTear = {
    {"Part of this file's rewrite is written over what players read, in one write that a crash could leave half "
     "done (a header list or a super index rewritten whole).",
     "Une partie de la réécriture de ce fichier est écrite par-dessus ce que lisent les lecteurs, en une écriture "
     "qu'un arrêt brutal pourrait laisser à moitié faite (une liste d'en-têtes ou un super-index réécrit en entier)."}};
const VEK::MessagePair NoSafeOrderInPlace = {
    {"This file is too close to the 4 GiB its sizes can describe to switch to a new index in place without a "
     "moment where players would read it worse: the file was left untouched. Rebuild a copy instead.",
     "Ce fichier est trop proche des 4 Gio que ses tailles peuvent décrire pour passer à un nouvel index sur place "
     "sans un moment où les lecteurs le liraient moins bien : le fichier n'a pas été modifié. Reconstruisez plutôt "
     "une copie."}};
const VEK::MessagePair ReferenceUnreadable = {
    {"The reference file \"%s\" has no readable header list.",
     "Le fichier de référence \"%s\" n'a pas de liste d'en-têtes lisible."}};
const VEK::MessagePair ReferenceNoStream = {
    {"The reference file does not match: it has no stream %d. Nothing was written.",
     "Le fichier de référence ne correspond pas : il n'a pas de flux %d. Rien n'a été écrit."}};
const VEK::MessagePair ReferenceKind = {
    {"The reference file does not match: stream %d is \"%s\" there, and its chunks here are \"%s\". Nothing was "
     "written.",
     "Le fichier de référence ne correspond pas : le flux %d y est \"%s\", et ses blocs ici sont des \"%s\". Rien "
     "n'a été écrit."}};
const VEK::MessagePair ReferenceUsed = {
    {"The formats of stream %d were taken from the reference file.",
     "Les formats du flux %d ont été pris dans le fichier de référence."}};
const VEK::MessagePair ReferenceHeaderUsed = {
    {"The stream header of stream %d was taken from the reference file.",
     "L'en-tête du flux %d a été pris dans le fichier de référence."}};
const VEK::MessagePair ReferenceFormatNotUsed = {
    {"The format of stream %d in the reference file was not used: %s",
     "Le format du flux %d du fichier de référence n'a pas été utilisé : %s"}};
const VEK::MessagePair ReferenceHeaderNotUsed = {
    {"The stream header of stream %d in the reference file was not used: %s",
     "L'en-tête du flux %d du fichier de référence n'a pas été utilisé : %s"}};
const VEK::MessagePair ReferenceNotNeeded = {
    {"The header list is sound: the reference file was not used.",
     "La liste d'en-têtes est saine : le fichier de référence n'a pas été utilisé."}};
const VEK::MessagePair SalvagedFromIndex = {
    {"The old index leads to %d chunks whose headers are damaged: a rebuild keeps them.",
     "L'ancien index mène à %d blocs dont l'en-tête est endommagé : une reconstruction les conserve."}};
// French makes the frames agree with their count, as the Done line does.
const VEK::MessagePair LostFramesSound = {
    {"About %d frames and %s s of sound were lost at %s: a rebuild keeps the time of what follows.",
     "Environ %d images et %s s de son ont été perdues à %s : une reconstruction conserve le temps de ce qui suit."}};
const VEK::MessagePair LostFrameSound = {
    {"About %d frame and %s s of sound were lost at %s: a rebuild keeps the time of what follows.",
     "Environ %d image et %s s de son ont été perdues à %s : une reconstruction conserve le temps de ce qui suit."}};
const VEK::MessagePair LostFrames = {
    {"About %d frames were lost at %s: a rebuild keeps the time of what follows.",
     "Environ %d images ont été perdues à %s : une reconstruction conserve le temps de ce qui suit."}};
const VEK::MessagePair LostFrame = {
    {"About %d frame was lost at %s: a rebuild keeps the time of what follows.",
     "Environ %d image a été perdue à %s : une reconstruction conserve le temps de ce qui suit."}};
const VEK::MessagePair LostSound = {
    {"About %s s of sound were lost at %s: a rebuild keeps the time of what follows.",
     "Environ %s s de son ont été perdues à %s : une reconstruction conserve le temps de ce qui suit."}};
const VEK::MessagePair LostWhen = {{"%s (file offset %d)", "%s (adresse %d)"}};
const VEK::MessagePair LostWhere = {{"file offset %d", "l'adresse %d"}};

}  // namespace VEKRiff::Msg
