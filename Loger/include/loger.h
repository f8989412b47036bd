#pragma once

// Nothing uses it; kept, with its spelling (which the folder and library share), for code that names it.
class Loger
{
public:
    Loger();
};
