#ifndef LOGER_H
#define LOGER_H

class Loger
{
public:
    Loger();
};

#endif // LOGER_H
