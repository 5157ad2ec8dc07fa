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
    {"No FAT file system found: the whole source will be searched.",
     "Aucun système de fichiers FAT trouvé : toute la source sera parcourue."}};
const VEK::MessagePair OtherFileSystem = {
    {"The file system is not FAT (exFAT or NTFS) and is not read: the whole source will be searched.",
     "Le système de fichiers n'est pas FAT (exFAT ou NTFS) et n'est pas lu : toute la source sera parcourue."}};
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

}  // namespace VEKRecover::Msg
