/* Board support library of the intercom adapter board. */
#ifndef LIBZQ_BOARD_KORVEL_20203_H
#define LIBZQ_BOARD_KORVEL_20203_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZQ_BOARD_API __attribute__((visibility("default")))
#else
#define ZQ_BOARD_API
#endif

ZQ_BOARD_API void board_lib_init(void);
ZQ_BOARD_API void board_gpio_init(void);
ZQ_BOARD_API void board_spi_init(void);
ZQ_BOARD_API char* board_usart_get_port(void);
ZQ_BOARD_API void board_spi_set_cs(uint8_t level);
ZQ_BOARD_API void board_spi_transfer(uint8_t* tx, uint8_t* rx, uint16_t len);

#ifdef __cplusplus
}
#endif

#endif
