"""Network play for the window tests (see harness/ for the displays, programs and screens): a
scripted peer that plays the other side against the real program (peer.py), the steps that drive
a program through the network sub-menu, its prompts, turns and end screens (screens.py), and
whole games, against the peer or between two real programs (games.py).

Every window test runs in a private network namespace of its own
(harness.runner.private_network), so the game's fixed ports are the test's alone: a game hosted on
this machine's own network is neither disturbed nor reached.

The scripted peer speaks the wire format itself over loopback sockets: a message is a type byte,
the payload's length as 4 bytes in network byte order, then the payload (a nick, the 256 cells of
the board, or "bye"). Every byte the program sends is read through one place and checked against
what the protocol and the game so far say it must be; every read, accept and connect has a
deadline that fails the test. The peer can also send what a broken or hostile peer would.

    log = Transcript(game)
    with Peer("master") as peer:             # the program is the slave
        begin(game, peer, log, nick="bob")   # menus, prompts, both connections, both nicks
        peer_moves(game, peer, 7, 7)         # the peer moves first, as player one
        program_moves(game, peer, 8, 8)      # a click; the peer checks the board that comes
        peer.interrupt()
        ends_interrupted(game, peer, log, out=["Remote interrupt"],
                         err=["Listener: Remote interrupt recieved"])

Two programs, each on its own display:

    master, slave = two_programs(h)
    game = NetGame(master, slave)
    game.start()
    game.play([(0, 0), (0, 1), ...])
    game.win((4, 0), ((0, 0), (4, 0)))
"""
