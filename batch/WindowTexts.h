// The texts both windows show around a run and their commands, in the
// language of the messages.
#pragma once

#include "lang/Language.h"

namespace VEKRiff::WindowTexts {

inline const VEK::MessagePair MsgStop = {{"Abort current operation ?", "Annuler l'opération en cours ?"}};
inline const VEK::MessagePair MsgStopCaption = {{"Stop", "Arrêt"}};
inline const VEK::MessagePair MsgAborting = {{"Aborting...", "Interruption..."}};
inline const VEK::MessagePair MsgChecking = {{"Checking errors...", "Vérification des erreurs..."}};
inline const VEK::MessagePair MsgRebuilding = {{"Rebuilding index...", "Reconstruction de l'index..."}};
// The text of a failed save is the store's own message.
inline const VEK::MessagePair MsgSettingsNotSavedCaption = {{"Settings not saved", "Paramètres non enregistrés"}};
inline const VEK::MessagePair MsgOpenCaption = {{"Open", "Ouvrir"}};
inline const VEK::MessagePair MsgDoesNotExist = {{"\"%s\" does not exist.", "\"%s\" n'existe pas."}};
inline const VEK::MessagePair MsgNoProgram = {{"No program could open \"%s\".", "Aucun programme n'a pu ouvrir \"%s\"."}};
inline const VEK::MessagePair MsgMessagesNotSavedCaption = {{"Messages not saved", "Messages non enregistrés"}};
inline const VEK::MessagePair MsgMessagesNotSaved = {
    {"Could not save the messages to \"%s\": %s", "Impossible d'enregistrer les messages dans \"%s\" : %s"}};

}  // namespace VEKRiff::WindowTexts
