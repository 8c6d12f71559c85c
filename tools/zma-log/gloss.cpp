#include "gloss.h"

namespace {
struct Entry {
    const char* russian;
    const char* english;
};

// Every fixed Russian text the driver logs or prints, as its code has it.
const Entry kGlosses[] = {
    {"Приняты данные", "data received"},                          // Controller: a frame came
    {"Открыта дверь 1", "door 1 opened"},                         // Controller
    {"Открыта дверь 2", "door 2 opened"},                         // Controller
    {"Неизвестная команда", "unknown command"},                   // Controller
    {"Успешно открыт порт", "port opened successfully"},          // stderr, USART
    {"Ошибка открытия порта", "cannot open the port"},            // stderr, USART
    {"порт закрыт после ошибки", "port closed after an error"},   // stderr, USART
    {"Ошибка ввода квартиры", "apartment number input error"},    // stderr, console list input
    {"Переполнение буффера более чем в 10 раз!", "buffer overflow, over 10 times its size!"}, // stderr, UDP audio
};
}

QByteArray Gloss::of(const QByteArray& text)
{
    QByteArray out;
    // Cyrillic is two bytes a letter in UTF-8, each byte 0xD0 or 0xD1 first.
    if (!text.contains('\xD0') && !text.contains('\xD1'))
        return out;
    for (const Entry& e : kGlosses) {
        if (!text.contains(e.russian))
            continue;
        if (!out.isEmpty())
            out += "; ";
        out += e.english;
    }
    return out;
}
