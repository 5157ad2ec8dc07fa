#include "lang/SystemReason.h"

#include <cerrno>
#include <cstring>

#include "lang/Language.h"

namespace VEK {

std::string SystemReason(int error) {
  struct Reason {
    int Error;
    MessagePair Text;
  };
  static const Reason reasons[] = {
      {ENOSPC, {{"no space left on the device", "plus d'espace libre sur le périphérique"}}},
#ifdef EDQUOT
      {EDQUOT, {{"disk quota exceeded", "quota de disque dépassé"}}},
#endif
      {EIO, {{"input/output error", "erreur d'entrée/sortie"}}},
      {EROFS, {{"read-only file system", "système de fichiers en lecture seule"}}},
      {EFBIG, {{"file too large for the file system", "fichier trop grand pour le système de fichiers"}}},
      {EACCES, {{"permission denied", "permission refusée"}}},
      {EPERM, {{"operation not permitted", "opération non permise"}}},
      {EISDIR, {{"a folder has that name", "un dossier porte ce nom"}}},
      {ENAMETOOLONG, {{"file name too long", "nom de fichier trop long"}}},
      {ENOENT, {{"no such file or folder", "fichier ou dossier introuvable"}}},
      {ENOTDIR, {{"a part of the path is not a folder", "une partie du chemin n'est pas un dossier"}}},
      {ELOOP, {{"too many symbolic links in the path", "trop de liens symboliques dans le chemin"}}},
      // A file that another run of this program holds (its lock), or that
      // another program holds the kernel's lease on.
      {EAGAIN, {{"the file is in use by another program", "le fichier est utilisé par un autre programme"}}},
#if EWOULDBLOCK != EAGAIN
      {EWOULDBLOCK, {{"the file is in use by another program", "le fichier est utilisé par un autre programme"}}},
#endif
      {EBUSY, {{"the device or the file is busy", "le périphérique ou le fichier est occupé"}}},
      {ETXTBSY, {{"the file is a program being run", "le fichier est un programme en cours d'exécution"}}},
      {EMFILE, {{"too many files open in this program", "trop de fichiers ouverts dans ce programme"}}},
      {ENFILE, {{"too many files open on the system", "trop de fichiers ouverts sur le système"}}},
      {EOPNOTSUPP, {{"not supported by the file system", "non pris en charge par le système de fichiers"}}},
  };
  for (const Reason& r : reasons)
    if (r.Error == error) return Text(r.Text);
  return std::strerror(error);
}

}  // namespace VEK
