#pragma once

// The stand-in Salvix's one library, carried in Contents/Frameworks with its version links.

// Appends one line with the program's arguments (tab-separated, without the program
// itself) to "Library/Application Support/com.quilm.salvix/salvix_launches.txt" under
// $HOME. Returns false when the line could not be written.
bool salvixRecordLaunch(int argc, char** argv);

// Seconds to stay alive: SALVIX_STAY_SECONDS when set to a number, else 5.
int salvixStaySeconds();
