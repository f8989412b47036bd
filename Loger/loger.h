#pragma once

class Loger
{
public:
    Loger();
};
