#!/usr/bin/env python3
"""Writes the seed corpora of relay_dispatch, console_command and
public_address_file under fuzz/corpus/. The inputs are real datagrams, bodies
and files, in each fuzzer's input format (see the comment at the top of each
fuzzer). Run it again after changing a format; the output is deterministic.

Usage: fuzz/make_corpus.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- relay datagrams, as a client sends them --------------------------------

def record(name, p2p_ip=b"\0\0\0\0", p2p_port=0, client_bytes=0):
    """The 116-byte ClientRecord a client fills in (server fields zero)."""
    r = bytearray(116)
    name = name[:32]
    r[0:len(name)] = name
    for i in range(32, 48):
        r[i] = client_bytes
    r[56:60] = p2p_ip
    struct.pack_into("<H", r, 60, p2p_port)
    return bytes(r)


def record_form(letter, name, count=0, **kw):
    return b"pr" + letter + bytes([count]) + record(name, **kw)


def connect(sender, target, terminated=True):
    return record_form(b"p", sender) + target + (b"\0" if terminated else b"")


def route_info(tx_name, rx_name, tx_ip, tx_port, rx_ip, rx_port, tx_count, rx_count,
               tx_param=0x1234):
    body = bytearray(108)
    struct.pack_into("<H", body, 2, tx_param)
    body[4:8] = bytes(tx_ip)
    struct.pack_into("<H", body, 8, tx_port)
    body[11] = tx_count
    body[24:28] = bytes(rx_ip)
    struct.pack_into("<H", body, 28, rx_port)
    body[31] = rx_count
    body[44:44 + len(tx_name)] = tx_name
    body[76:76 + len(rx_name)] = rx_name
    return bytes(body)


def route_request(tx_name, rx_name, tx_count=3, rx_count=3, length=228):
    packet = b"pr" + b"r" + b"\0" + bytes(116) + route_info(
        tx_name, rx_name, (198, 51, 100, 1), 40000, (198, 51, 100, 2), 40001, tx_count, rx_count)
    return packet[:length] if length <= 228 else packet + bytes(length - 228)


def route_release(slot_port, length=228):
    packet = bytearray(b"pr" + b"x" + b"\0" + bytes(224))
    struct.pack_into("<H", packet, 120, slot_port)
    return bytes(packet[:length])


# Relay fuzzer steps.
def datagram(source, data):
    return bytes([0, source]) + struct.pack("<H", len(data)) + data


def clock(units):
    return bytes([2]) + struct.pack("<H", units)


SWEEP = bytes([3])
WINDOW = bytes([4])
CLEAR_CLIENTS = bytes([5])
CLEAR_MESSAGES = bytes([7])


def probe(slot_selector, learnt_port):
    return bytes([6, slot_selector]) + struct.pack("<H", learnt_port)


def command(letter_selector, name, p2p_byte, p2p_port, source, extra=b""):
    """A templated command; letter_selector indexes "efikprxghw", name is a
    name selector (see name())."""
    return bytes([1, letter_selector]) + name + bytes([p2p_byte]) + struct.pack(
        "<H", p2p_port) + bytes([source]) + extra


def name(selector):
    """Name selector 0..7: a fixed name ("", alpha, Alpha, beta, ...); 8..239: "nN"."""
    return bytes([selector])


def client_number(n):
    """Name selector for "cN"."""
    return bytes([0xF0]) + struct.pack("<H", n)


# Sources: selector s is 198.51.100.(1 + s % 4) port 40000 + (s >> 2) % 8.
A, B, A_NEW_PORT = 0, 1, 4
SILENCE_UNITS = 24600 // 16 + 1  # clock units of 16 ms past the silence limit

relay = {
    "login_one": datagram(A, record_form(b"e", b"alpha")),
    "login_two_then_list": datagram(A, record_form(b"e", b"alpha")) +
    datagram(B, record_form(b"e", b"beta")) + WINDOW,
    "login_again_other_address": datagram(A, record_form(b"e", b"alpha")) +
    datagram(B, record_form(b"e", b"alpha", client_bytes=0x55)),
    "keepalive_port_and_p2p": datagram(A, record_form(b"e", b"alpha")) +
    datagram(A_NEW_PORT, record_form(b"k", b"alpha")) +
    datagram(A, record_form(b"k", b"alpha", p2p_ip=bytes([10, 0, 0, 7]), p2p_port=5000)) +
    datagram(A, record_form(b"k", b"alpha", p2p_ip=bytes([10, 0, 0, 8]), p2p_port=5000)) +
    datagram(A, record_form(b"k", b"nobody")),
    "info_reports": datagram(A, record_form(b"e", b"alpha")) +
    datagram(B, record_form(b"e", b"beta")) +
    datagram(A, record_form(b"i", b"alpha", p2p_ip=bytes([192, 168, 0, 5]), p2p_port=6000)) +
    datagram(A, record_form(b"i", b"gamma")),
    "connect_forwarded": datagram(A, record_form(b"e", b"alpha")) +
    datagram(B, record_form(b"e", b"beta")) +
    datagram(A, connect(b"alpha", b"beta")) +
    datagram(A, connect(b"alpha", b"alpha")) +
    datagram(A, connect(b"alpha", b"nobody")) +
    datagram(A, connect(b"alpha", b"beta", terminated=False)) +
    datagram(A, record_form(b"p", b"alpha")) + WINDOW,
    "logout": datagram(A, record_form(b"e", b"alpha")) +
    datagram(B, record_form(b"e", b"beta")) +
    datagram(A, record_form(b"f", b"alpha")) +
    datagram(A, record_form(b"f", b"gamma")) + WINDOW,
    "timeout_sweep": datagram(A, record_form(b"e", b"alpha")) +
    datagram(B, record_form(b"e", b"beta")) + clock(SILENCE_UNITS - 2) +
    datagram(B, record_form(b"k", b"beta")) + clock(2) + SWEEP + WINDOW + clock(SILENCE_UNITS) +
    SWEEP + datagram(A, record_form(b"e", b"alpha")) + WINDOW,
    "tick_wrap": clock(0xFFFF) + datagram(A, record_form(b"e", b"alpha")) + clock(200) + SWEEP +
    WINDOW + clock(SILENCE_UNITS) + SWEEP + WINDOW,
    "route_grant_probe_release": datagram(A, record_form(b"e", b"alpha")) +
    datagram(B, record_form(b"e", b"beta")) +
    datagram(A, route_request(b"alpha", b"beta")) +
    probe(1, 30000) +
    datagram(A, route_release(14367)) + WINDOW +
    datagram(A, route_release(14367)) + WINDOW +
    datagram(A, route_release(14366)) + datagram(A, route_release(14399)),
    "route_refusals": datagram(A, route_request(b"alpha", b"beta", tx_count=0)) +
    datagram(A, route_request(b"alpha", b"beta", tx_count=9)) +
    datagram(A, route_request(b"alpha", b"beta", length=200)) +
    datagram(A, route_request(b"alpha", b"beta", length=300)) +
    datagram(A, route_release(14367, length=121)) + WINDOW,
    "ignored_datagrams": datagram(A, record_form(b"e", b"alpha")[:119]) +
    datagram(A, b"xx" + record_form(b"e", b"alpha")[2:]) +
    datagram(A, record_form(b"z", b"alpha")) +
    datagram(A, record_form(b"g", b"alpha")) +
    datagram(A, record_form(b"h", b"alpha", count=1)) +
    datagram(A, record_form(b"w", b"alpha")) + datagram(A, b""),
    "long_and_odd_names": datagram(A, record_form(b"e", b"abcdefghijklmnopqrstuvwxyz0123456789")) +
    datagram(A, record_form(b"e", b"")) +
    datagram(B, record_form(b"e", b"Alpha")) +
    datagram(B, record_form(b"e", b"alpha")) +
    datagram(A, record_form(b"e", b"line\r\nbreak")) +
    datagram(A, record_form(b"e", b"\xff\xfe\xc3(")) + WINDOW,
    "big_datagram": datagram(A, record_form(b"e", b"alpha") + bytes(904)),
    "clear_clients_and_messages": datagram(A, record_form(b"e", b"alpha")) +
    datagram(B, record_form(b"e", b"beta")) + CLEAR_CLIENTS +
    datagram(A, record_form(b"k", b"alpha")) + CLEAR_MESSAGES +
    datagram(A, record_form(b"e", b"alpha")) + WINDOW,
    # 25 clients: the table grows from 10 to 20 to 40 records.
    "table_growth": b"".join(command(0, client_number(n), 0, 0, n % 8) for n in range(25)) +
    command(1, client_number(3), 0, 0, 3) + WINDOW,
    # 546 clients: the "h" list (65,520 bytes) no longer fits one UDP datagram.
    "list_beyond_one_datagram": b"".join(command(0, client_number(n), 0, 0, n % 8)
                                         for n in range(546)) + CLEAR_CLIENTS,
    "command_forms": command(0, name(1), 0, 0, A) + command(0, name(3), 0, 0, B) +
    command(3, name(1), 7, 5000, A) + command(2, name(1), 7, 5001, A) +
    command(4, name(1), 0, 0, A, name(3) + bytes([0])) +
    command(5, name(1), 0, 0, A, bytes([0]) + name(3) + bytes([33])) +
    command(6, name(1), 0, 0, A, bytes([1, 0])) + WINDOW + command(1, name(3), 0, 0, B) + WINDOW,
}
for seed, data in relay.items():
    write("relay_dispatch", seed, data)

# ---- console API bodies, one per line ---------------------------------------

console = {
    "start_stop": '{"command":"start-stop"}\n{"command":"start-stop"}\n',
    "start_on_typed_port":
    '{"command":"start-stop","controls":{"relayPort":"0"}}\n'
    '{"command":"start-stop","controls":{"relayPort":"7002"}}\n',
    "refused_ports":
    '{"command":"start-stop","controls":{"relayPort":"abc"}}\n'
    '{"command":"start-stop","controls":{"relayPort":"-1"}}\n'
    '{"command":"start-stop","controls":{"relayPort":"4294967296"}}\n'
    '{"command":"start-stop","controls":{"relayPort":""}}\n'
    '{"command":"dismiss-message"}\n',
    "large_ports":
    '{"command":"start-stop","controls":{"relayPort":"72538"}}\n'
    '{"command":"start-stop","controls":{"relayPort":" 4294967295 "}}\n'
    '{"command":"start-stop"}\n',
    "all_controls":
    '{"command":"clear-messages","controls":{"localAddress":"192.168.1.10",'
    '"relayPort":"8000","stunServer":"stun.example.org"}}\n'
    '{"command":"start-stop","controls":{"localAddress":"300.1.2.3"}}\n'
    '{"command":"start-stop","controls":{"localAddress":"10.0.0.1","stunServer":"\\u00e9\\ud83d\\ude00"}}\n',
    "every_command":
    '{"command":"clear-clients"}\n{"command":"clear-messages"}\n{"command":"get-public-ip"}\n'
    '{"command":"select-device","row":0}\n{"command":"select-device","row":-1}\n'
    '{"command":"about"}\n{"command":"dismiss-message"}\n{"command":"exit"}\n'
    '{"command":"about"}\n',
    "close_while_running": '{"command":"start-stop"}\n{"command":"close"}\n{"command":"start-stop"}\n',
    "exit_while_stopped": '{"command":"exit"}\n{"command":"exit"}\n',
    "refused_bodies":
    'not json\n[1,2]\n{}\n{"command":5}\n{"command":"launch"}\n'
    '{"command":"about","row":"1"}\n{"command":"about","row":1.5}\n'
    '{"command":"about","row":18446744073709551615}\n{"command":"about","row":-9223372036854775808}\n'
    '{"command":"about","controls":[]}\n{"command":"about","controls":{"port":"1"}}\n'
    '{"command":"about","controls":{"relayPort":7002}}\n'
    '{"command":"about","controls":{"relayPort":null}}\n'
    '{"command":"about"} trailing\n',
    "duplicate_keys": '{"command":"about","command":"exit"}\n'
    '{"command":"start-stop","controls":{"relayPort":"1","relayPort":"x"}}\n',
}
for seed, data in console.items():
    write("console_command", seed, data)

# ---- server.txt --------------------------------------------------------------

files = {
    "saved": "203.0.113.5\r\n7002\r\n",
    "lf_only": "203.0.113.5\n8000\n",
    "empty": "",
    "one_line": "198.51.100.20\r\n",
    "no_final_newline": "198.51.100.20\r\n7002",
    "port_with_text": "203.0.113.5\r\n7002abc\r\n",
    "negative_port": "203.0.113.5\r\n-1\r\n",
    "signed_and_spaced": "203.0.113.5\r\n \t+65536\r\n",
    "long_number": "203.0.113.5\r\n99999999999999999999\r\n",
    "not_an_address": "stun.example.org\r\n7002\r\n",
    "stray_carriage_returns": "203.0.113.5\r\r\n\r7002\r\nextra line\r\n",
    "no_digits": "\r\n-\r\n",
}
for seed, data in files.items():
    write("public_address_file", seed, data)
