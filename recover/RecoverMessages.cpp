#include "recover/RecoverMessages.h"

namespace VEKRecover::Msg {

const VEK::MessagePair OpenSourceBecause = {
    {"Could not open \"%s\" (%s).", "Impossible d'ouvrir \"%s\" (%s)."}};
const VEK::MessagePair NotImageOrDevice = {
    {"neither a disk image nor a disk", "ni une image de disque ni un disque"}};
const VEK::MessagePair ReadSourceBecause = {
    {"Could not read \"%s\" at offset %d (%s).", "Impossible de lire \"%s\" à la position %d (%s)."}};
const VEK::MessagePair FileSystemFound = {
    {"FAT%d file system, clusters of %d bytes: %d files and folders in use, %d deleted entries.",
     "Système de fichiers FAT%d, clusters de %d octets : %d fichiers et dossiers en service, %d entrées "
     "effacées."}};
const VEK::MessagePair NoFileSystem = {
    {"No FAT or exFAT file system found: the whole source will be searched.",
     "Aucun système de fichiers FAT ou exFAT trouvé : toute la source sera parcourue."}};
const VEK::MessagePair OtherFileSystem = {
    {"The file system is neither FAT nor exFAT (NTFS, say) and is not read: the whole source will be searched.",
     "Le système de fichiers n'est ni FAT ni exFAT (NTFS par exemple) et n'est pas lu : toute la source sera "
     "parcourue."}};
const VEK::MessagePair BadBootSector = {
    {"The FAT boot sector does not hold together: the whole source will be searched.",
     "Le secteur de démarrage FAT est incohérent : toute la source sera parcourue."}};
const VEK::MessagePair LargerThanSource = {
    {"The FAT file system claims more than the source holds: the whole source will be searched.",
     "Le système de fichiers FAT annonce plus que ce que contient la source : toute la source sera parcourue."}};
const VEK::MessagePair TableUnreadable = {
    {"The file allocation table is blank or damaged: the whole source will be searched, in clusters of %d bytes.",
     "La table d'allocation des fichiers est vide ou endommagée : toute la source sera parcourue, par clusters "
     "de %d octets."}};
const VEK::MessagePair ExFatFound = {
    {"exFAT file system, clusters of %d bytes: %d files and folders in use, %d deleted entries.",
     "Système de fichiers exFAT, clusters de %d octets : %d fichiers et dossiers en service, %d entrées effacées."}};
const VEK::MessagePair ExFatBadBootSector = {
    {"The exFAT boot sector does not hold together: the whole source will be searched.",
     "Le secteur de démarrage exFAT est incohérent : toute la source sera parcourue."}};
const VEK::MessagePair ExFatLargerThanSource = {
    {"The exFAT file system claims more than the source holds: the whole source will be searched.",
     "Le système de fichiers exFAT annonce plus que ce que contient la source : toute la source sera parcourue."}};
const VEK::MessagePair ExFatTableUnreadable = {
    {"The exFAT allocation table or bitmap is blank or damaged: the whole source will be searched, in clusters of "
     "%d bytes.",
     "La table d'allocation ou le bitmap exFAT est vide ou endommagé : toute la source sera parcourue, par "
     "clusters de %d octets."}};

const VEK::MessagePair FilmWhole = {
    {"Film found at offset %s: %d pieces put back in order, %d frames (%s s), %d bytes, whole.",
     "Film trouvé à la position %s : %d morceaux remis dans l'ordre, %d images (%s s), %d octets, complet."}};
const VEK::MessagePair FilmCut = {
    {"Film found at offset %s: %d pieces put back in order, %d frames (%s s), %d bytes; its next piece was not "
     "found, so it ends at its last whole chunk.",
     "Film trouvé à la position %s : %d morceaux remis dans l'ordre, %d images (%s s), %d octets ; son morceau "
     "suivant est introuvable, il s'arrête donc à son dernier bloc complet."}};
const VEK::MessagePair FilmUnsureGaps = {
    {"Where %d of its pieces end could not be told to the cluster: the earliest end that fits was taken, and "
     "the chunk that crosses there may hold a little of another file.",
     "La fin de %d de ses morceaux n'a pas pu être située au cluster près : la première fin possible a été "
     "retenue, et le bloc qui la traverse peut contenir un peu d'un autre fichier."}};
const VEK::MessagePair FilmEntry = {
    {"It was the deleted file \"%s\", written %s.", "C'était le fichier effacé \"%s\", écrit le %s."}};
const VEK::MessagePair FilmWithoutHeaders = {
    {"Film data without its header list found at offset %s: %d pieces put back in order, %d frames, %d bytes; "
     "the header list is made again from the data.",
     "Données de film sans leur liste d'en-têtes trouvées à la position %s : %d morceaux remis dans l'ordre, %d "
     "images, %d octets ; la liste d'en-têtes est refaite à partir des données."}};
const VEK::MessagePair FolderOnSource = {
    {"The folder \"%s\" lies on the card or disk being searched: writing there could overwrite the films. "
     "Choose a folder on another disk.",
     "Le dossier \"%s\" se trouve sur la carte ou le disque examiné : y écrire pourrait écraser les films. "
     "Choisissez un dossier sur un autre disque."}};
const VEK::MessagePair NoFilms = {
    {"No film was found in \"%s\".", "Aucun film n'a été trouvé dans \"%s\"."}};
const VEK::MessagePair Searching = {{"Searching \"%s\" for films.", "Recherche de films dans \"%s\"."}};
const VEK::MessagePair SearchStopped = {
    {"The search was stopped: no film was written.", "La recherche a été interrompue : aucun film n'a été écrit."}};
const VEK::MessagePair FilmsSoFar = {{"films found: %d", "films trouvés : %d"}};
const VEK::MessagePair NotAFolder = {{"not a folder", "ce n'est pas un dossier"}};
const VEK::MessagePair FolderUnusable = {
    {"The films cannot be written into \"%s\" (%s).", "Les films ne peuvent pas être écrits dans \"%s\" (%s)."}};

}  // namespace VEKRecover::Msg
