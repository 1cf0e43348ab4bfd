// The realm list: the names of the sub-keys of the server's registry key
// "\Software\Ortelune Software\Halvorine\Realms", read once at start and kept,
// sorted without regard to ASCII case, until the program ends. Opening the
// key creates it, so it exists after the server has run once.
#pragma once

#include <string>
#include <vector>

// Opens the key (creating it when missing), loads the list and has
// FreeRealmList run at program end. A second call reloads.
void RealmListInit();
// Empties the list and adds the name of every sub-key of the key.
void LoadRealmList();
// Forgets the key and the list.
void FreeRealmList();

// The list as loaded; empty before RealmListInit and after FreeRealmList.
const std::vector<std::string>& RealmList();
