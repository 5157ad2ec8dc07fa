<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr" sourcelanguage="en">
<context>
    <name>TFrmConfig</name>
    <message>
        <source>Configuration</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>Disable Explorer&apos;s AVI handler (Windows XP)</source>
        <translation>Désactiver le gestionnaire AVI de l&apos;Explorateur (Windows XP)</translation>
    </message>
    <message>
        <source>Keep original file (create a new file)</source>
        <translation>Conserver le fichier original (créer un nouveau fichier)</translation>
    </message>
    <message>
        <source>Skip files that need no repair</source>
        <translation>Ignorer les fichiers qui n&apos;ont besoin d&apos;aucune réparation</translation>
    </message>
    <message>
        <source>Prefix for new files :</source>
        <translation>Préfixe des nouveaux fichiers :</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Fichiers</translation>
    </message>
    <message>
        <source>&amp;Clear messages before starting any operation</source>
        <translation>&amp;Effacer les messages avant de commencer une opération</translation>
    </message>
    <message>
        <source>&amp;Display messages for the selected file only</source>
        <translation>A&amp;fficher seulement les messages du fichier sélectionné</translation>
    </message>
    <message>
        <source>&amp;Language :</source>
        <translation>&amp;Langue :</translation>
    </message>
    <message>
        <source>Messages Center</source>
        <translation>Centre de messages</translation>
    </message>
    <message>
        <source>Prompt the user before modifying the original file</source>
        <translation>Demander avant de modifier le fichier original</translation>
    </message>
    <message>
        <source>Prompt the user before stopping the current operation</source>
        <translation>Demander avant d&apos;arrêter l&apos;opération en cours</translation>
    </message>
    <message>
        <source>Prompt the user before overwriting a file</source>
        <translation>Demander avant d&apos;écraser un fichier</translation>
    </message>
    <message>
        <source>Skip when file already exists</source>
        <translation>Ignorer si le fichier existe déjà</translation>
    </message>
    <message>
        <source>Abort when file already exists</source>
        <translation>Interrompre si le fichier existe déjà</translation>
    </message>
    <message>
        <source>Overwrite when file already exists</source>
        <translation>Écraser si le fichier existe déjà</translation>
    </message>
    <message>
        <source>Prompts</source>
        <translation>Questions</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Annuler</translation>
    </message>
</context>
<context>
    <name>TFrmMain</name>
    <message>
        <source>Supported types (*.avi);;Any file (*)</source>
        <translation>Types pris en charge (*.avi);;Tous les fichiers (*)</translation>
    </message>
    <message>
        <source>Text files (*.txt);;Any file (*)</source>
        <translation>Fichiers texte (*.txt);;Tous les fichiers (*)</translation>
    </message>
    <message>
        <source>JSON Lines (*.jsonl);;Any file (*)</source>
        <translation>JSON Lines (*.jsonl);;Tous les fichiers (*)</translation>
    </message>
    <message>
        <source>Rebuild damaged or lost header lists from a healthy file of the same camera or encoder</source>
        <translation>Reconstruire les listes d&apos;en-têtes endommagées ou perdues d&apos;après un fichier sain de la même caméra ou du même encodeur</translation>
    </message>
    <message>
        <source>&amp;Clear file list</source>
        <translation>&amp;Vider la liste des fichiers</translation>
    </message>
    <message>
        <source>Clear list</source>
        <translation>Vider la liste</translation>
    </message>
    <message>
        <source>&amp;Add files...</source>
        <translation>&amp;Ajouter des fichiers...</translation>
    </message>
    <message>
        <source>Add files...</source>
        <translation>Ajouter des fichiers...</translation>
    </message>
    <message>
        <source>&amp;Remove files</source>
        <translation>&amp;Retirer les fichiers</translation>
    </message>
    <message>
        <source>Remove selected files</source>
        <translation>Retirer les fichiers sélectionnés</translation>
    </message>
    <message>
        <source>&amp;Check errors</source>
        <translation>&amp;Vérifier les erreurs</translation>
    </message>
    <message>
        <source>Check Errors</source>
        <translation>Vérifier les erreurs</translation>
    </message>
    <message>
        <source>Check &amp;selected files</source>
        <translation>Vérifier les fichiers &amp;sélectionnés</translation>
    </message>
    <message>
        <source>Check the selected files</source>
        <translation>Vérifier les fichiers sélectionnés</translation>
    </message>
    <message>
        <source>Rebuild s&amp;elected files</source>
        <translation>Reconstruire les fichiers s&amp;électionnés</translation>
    </message>
    <message>
        <source>Rebuild the index of the selected files</source>
        <translation>Reconstruire l&apos;index des fichiers sélectionnés</translation>
    </message>
    <message>
        <source>&amp;Rebuild Index</source>
        <translation>&amp;Reconstruire l&apos;index</translation>
    </message>
    <message>
        <source>Rebuild Index</source>
        <translation>Reconstruire l&apos;index</translation>
    </message>
    <message>
        <source>&amp;Stop</source>
        <translation>&amp;Arrêter</translation>
    </message>
    <message>
        <source>Stop current operation</source>
        <translation>Arrêter l&apos;opération en cours</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quitter</translation>
    </message>
    <message>
        <source>&amp;Play the original</source>
        <translation>&amp;Lire l&apos;original</translation>
    </message>
    <message>
        <source>Play the file with the system&apos;s player</source>
        <translation>Lire le fichier avec le lecteur du système</translation>
    </message>
    <message>
        <source>Play the &amp;repaired copy</source>
        <translation>Lire la copie &amp;réparée</translation>
    </message>
    <message>
        <source>Play the copy the rebuild wrote</source>
        <translation>Lire la copie écrite par la reconstruction</translation>
    </message>
    <message>
        <source>Show the original in its &amp;folder</source>
        <translation>Afficher l&apos;original dans son &amp;dossier</translation>
    </message>
    <message>
        <source>Show the &amp;copy in its folder</source>
        <translation>Afficher la &amp;copie dans son dossier</translation>
    </message>
    <message>
        <source>O&amp;utput column</source>
        <translation>Colonne &amp;Sortie</translation>
    </message>
    <message>
        <source>Show the file each rebuild wrote in the list</source>
        <translation>Afficher dans la liste le fichier écrit par chaque reconstruction</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>Sortie</translation>
    </message>
    <message>
        <source>&amp;Configuration...</source>
        <translation>&amp;Configuration...</translation>
    </message>
    <message>
        <source>Display the configuration window...</source>
        <translation>Afficher la fenêtre de configuration...</translation>
    </message>
    <message>
        <source>Add f&amp;older...</source>
        <translation>Ajouter un &amp;dossier...</translation>
    </message>
    <message>
        <source>Add the AVI files of a folder...</source>
        <translation>Ajouter les fichiers AVI d&apos;un dossier...</translation>
    </message>
    <message>
        <source>&amp;Save messages...</source>
        <translation>&amp;Enregistrer les messages...</translation>
    </message>
    <message>
        <source>Save the Messages Center to a text file...</source>
        <translation>Enregistrer le Centre de messages dans un fichier texte...</translation>
    </message>
    <message>
        <source>Save re&amp;port...</source>
        <translation>Enregistrer le ra&amp;pport...</translation>
    </message>
    <message>
        <source>Save what the list&apos;s latest runs found, for scripts (JSON Lines)...</source>
        <translation>Enregistrer ce que les dernières opérations de la liste ont trouvé, pour les scripts (JSON Lines)...</translation>
    </message>
    <message>
        <source>Copy &amp;all messages</source>
        <translation>Copier &amp;tous les messages</translation>
    </message>
    <message>
        <source>Copy the Messages Center</source>
        <translation>Copier le Centre de messages</translation>
    </message>
    <message>
        <source>Save a&amp;ll messages...</source>
        <translation>Enregistrer to&amp;us les messages...</translation>
    </message>
    <message>
        <source>Save the messages of every file in the list to a text file...</source>
        <translation>Enregistrer les messages de tous les fichiers de la liste dans un fichier texte...</translation>
    </message>
    <message>
        <source>Reference &amp;file...</source>
        <translation>Fichier de ré&amp;férence...</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Fichier</translation>
    </message>
    <message>
        <source>&amp;Action</source>
        <translation>A&amp;ction</translation>
    </message>
    <message>
        <source>&amp;Options</source>
        <translation>&amp;Options</translation>
    </message>
    <message>
        <source>&amp;Stay on top</source>
        <translation>&amp;Toujours au premier plan</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>O&amp;utils</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Aide</translation>
    </message>
    <message>
        <source>&amp;About...</source>
        <translation>À &amp;propos...</translation>
    </message>
    <message>
        <source>&amp;Quick help...</source>
        <translation>&amp;Aide rapide...</translation>
    </message>
    <message>
        <source>How to check and repair files</source>
        <translation>Comment vérifier et réparer des fichiers</translation>
    </message>
    <message>
        <source>ToolBar1</source>
        <translation>Barre d&apos;outils</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Fichier</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Dossier</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Résultat</translation>
    </message>
    <message>
        <source>Healthy</source>
        <translation>Sain</translation>
    </message>
    <message>
        <source>Repaired</source>
        <translation>Réparé</translation>
    </message>
    <message>
        <source>Errors found, or not done</source>
        <translation>Erreurs trouvées, ou non traité</translation>
    </message>
    <message>
        <source>Being worked on</source>
        <translation>En cours de traitement</translation>
    </message>
    <message>
        <source>Rebuilt</source>
        <translation>Reconstruit</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Interrompu</translation>
    </message>
    <message>
        <source>Skipped</source>
        <translation>Ignoré</translation>
    </message>
    <message>
        <source>Not an AVI file</source>
        <translation>Pas un fichier AVI</translation>
    </message>
    <message>
        <source>&quot;%1&quot; was not added: only AVI files (.avi) are checked and rebuilt.</source>
        <translation>&quot;%1&quot; n&apos;a pas été ajouté : seuls les fichiers AVI (.avi) sont vérifiés et reconstruits.</translation>
    </message>
    <message>
        <source>Messages Center :</source>
        <translation>Centre de messages :</translation>
    </message>
    <message>
        <source>Drop AVI files or folders here, or press %1</source>
        <translation>Déposez ici des fichiers AVI ou des dossiers, ou appuyez sur %1</translation>
    </message>
    <message>
        <source>%1 MB/s, %2 left</source>
        <translation>%1 Mo/s, reste %2</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Prêt</translation>
    </message>
    <message>
        <source>Errors : 0</source>
        <translation>Erreurs : 0</translation>
    </message>
    <message>
        <source>Video Frames : 0</source>
        <translation>Images vidéo : 0</translation>
    </message>
    <message>
        <source>Audio Frames : 0</source>
        <translation>Trames audio : 0</translation>
    </message>
    <message>
        <source>&lt;b&gt;Add files&lt;/b&gt;: drop AVI files or folders on the list, or press %1 (%2 for a folder).</source>
        <translation>&lt;b&gt;Ajouter des fichiers&lt;/b&gt; : déposez des fichiers AVI ou des dossiers sur la liste, ou appuyez sur %1 (%2 pour un dossier).</translation>
    </message>
    <message>
        <source>&lt;b&gt;Check errors&lt;/b&gt; (%1) reads the files and says which are damaged; it changes nothing.</source>
        <translation>&lt;b&gt;Vérifier les erreurs&lt;/b&gt; (%1) lit les fichiers et indique lesquels sont endommagés ; rien n&apos;est modifié.</translation>
    </message>
    <message>
        <source>&lt;b&gt;Rebuild Index&lt;/b&gt; (%1) repairs them into a copy beside each file, named with the prefix: %2 for clip.avi. The original file stays as it was.</source>
        <translation>&lt;b&gt;Reconstruire l&apos;index&lt;/b&gt; (%1) les répare dans une copie à côté de chaque fichier, nommée avec le préfixe : %2 pour clip.avi. Le fichier original reste tel quel.</translation>
    </message>
    <message>
        <source>&lt;b&gt;Keep original file&lt;/b&gt;, in %1 (%2): unchecked, a rebuild rewrites the file itself and makes no copy.</source>
        <translation>&lt;b&gt;Conserver le fichier original&lt;/b&gt;, dans %1 (%2) : décochée, la reconstruction réécrit le fichier lui-même, sans copie.</translation>
    </message>
    <message>
        <source>The Messages Center tells what was found in the selected file; %1 saves it to a text file.</source>
        <translation>Le Centre de messages indique ce qui a été trouvé dans le fichier sélectionné ; %1 l&apos;enregistre dans un fichier texte.</translation>
    </message>
    <message>
        <source>Card or image to recover films from</source>
        <translation>Carte ou image d&apos;où récupérer les films</translation>
    </message>
    <message>
        <source>Recover films from the card in drive %1 (%2)?</source>
        <translation>Récupérer les films de la carte du lecteur %1 (%2) ?</translation>
    </message>
    <message>
        <source>%1 GB</source>
        <translation>%1 Go</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 Mo</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Tous les fichiers (*)</translation>
    </message>
    <message>
        <source>Folder for the recovered films</source>
        <translation>Dossier des films récupérés</translation>
    </message>
    <message>
        <source>Searching for films</source>
        <translation>Recherche de films</translation>
    </message>
    <message>
        <source>Reco&amp;ver films from a card or image...</source>
        <translation>Ré&amp;cupérer les films d&apos;une carte ou d&apos;une image...</translation>
    </message>
    <message>
        <source>Find the films on a memory card or its image, deleted ones too, and rebuild them into a folder...</source>
        <translation>Trouver les films d&apos;une carte mémoire ou de son image, même effacés, et les reconstruire dans un dossier...</translation>
    </message>
    <message>
        <source>Recover films</source>
        <translation>Récupérer les films</translation>
    </message>
</context>
<context>
    <name>TFrmUninstall</name>
    <message>
        <source>Uninstall</source>
        <translation>Désinstallation</translation>
    </message>
    <message>
        <source>Options :</source>
        <translation>Options :</translation>
    </message>
    <message>
        <source>Enable Explorer&apos;s Avi Handler</source>
        <translation>Activer le gestionnaire AVI de l&apos;Explorateur</translation>
    </message>
    <message>
        <source>Uninstall application settings</source>
        <translation>Supprimer les paramètres de l&apos;application</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
</context>
<context>
    <name>ZantrelDialogs::TFrmAbout</name>
    <message>
        <source>About</source>
        <translation>À propos</translation>
    </message>
    <message>
        <source>Zantrel was made from the OpenDML AVI File Format Extensions and the AVI file format documents. It checks damaged or partially downloaded AVI files for errors and rebuilds their index, so that they can be watched again.

Please report any error you meet, together with its description, the text of the Messages Center and the steps that reproduce it. If Zantrel cannot fix one of your files, please say where that file can be downloaded.

You use this program at your own risk.</source>
        <translation>Zantrel a été conçu d&apos;après les OpenDML AVI File Format Extensions et les documents sur le format de fichier AVI. Il recherche les erreurs des fichiers AVI endommagés ou partiellement téléchargés et reconstruit leur index, pour qu&apos;ils puissent de nouveau être regardés.

Merci de signaler toute erreur rencontrée, avec sa description, le texte du Centre de messages et les étapes qui la reproduisent. Si Zantrel ne parvient pas à réparer l&apos;un de vos fichiers, merci d&apos;indiquer où ce fichier peut être téléchargé.

Vous utilisez ce programme à vos propres risques.</translation>
    </message>
    <message>
        <source>Send me your comments and bug reports at</source>
        <translation>Envoyez-moi vos commentaires et rapports d&apos;erreurs à</translation>
    </message>
    <message>
        <source>web site :</source>
        <translation>site web :</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
</context>
</TS>
