/* A Modbus RTU master on a TCP socket, the way the program's rtu+tcp:// transport does it: a
 * Modbus TCP context connects, an RTU context (never connected) is handed its socket. Reads the
 * input registers and writes a holding register COUNT times each against the simulator at
 * 127.0.0.1:PORT; exits 0 when every exchange succeeded.
 *
 *   rtu-master PORT COUNT */
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const int count = atoi(argv[2]);
    modbus_t* tcp = modbus_new_tcp("127.0.0.1", atoi(argv[1]));
    if (!tcp || modbus_connect(tcp) == -1) {
        printf("connect: %s\n", modbus_strerror(errno));
        return 1;
    }
    modbus_t* rtu = modbus_new_rtu("NUL", 9600, 'N', 8, 1);
    modbus_set_socket(rtu, modbus_get_socket(tcp));
    modbus_set_slave(rtu, 1);
    modbus_set_response_timeout(rtu, 1, 0);
    int ok = 0;
    for (int i = 0; i < count; ++i) {
        uint16_t regs[8];
        if (modbus_read_input_registers(rtu, 0, 8, regs) == 8) ++ok;
        if (modbus_write_register(rtu, 4106, i % 5) == 1) ++ok;
    }
    printf("%d of %d exchanges answered\n", ok, 2 * count);
    return ok == 2 * count ? 0 : 1;
}
