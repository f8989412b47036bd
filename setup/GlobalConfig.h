#pragma once

// The run configuration of Salvix Setup. Written only by start-up on the GUI thread,
// complete before the progress window creates the upgrade worker; read without a lock.
struct GlobalConfig
{
    int theme_type = 0; // 0 light, 1 golden, 2 dark
    int is_4k_screen = 0; // 1 selects the 4K layout
    int language_type = 0; // 0 Simplified Chinese, 1 Traditional Chinese, 2 English
    bool force_upgrade_tool = false;
    bool is_upgrade_tool = false;
    bool to_upgrade_reminder = false;
    bool upgrade_reminder_declined = false;
    bool possible_patch_tool_to_upgrade = false;
};

extern GlobalConfig gConfig;
