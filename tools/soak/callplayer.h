#ifndef SOAK_CALLPLAYER_H
#define SOAK_CALLPLAYER_H

// Calls through the driver as the shield and the parent make them, each
// step awaited: a ring (now and then to a blocked number), doors, a pickup,
// a drop by either side.

class World;

class CallPlayer
{
public:
    explicit CallPlayer(World& world) : w(world) {}
    void call();
    bool door(int which);
    bool drop(bool byParent);

private:
    bool ring();
    bool pickup();

    World& w;
};

#endif
