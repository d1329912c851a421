# Sample animations for the drawing tests, made on the build host by Pillow
# and gifsicle, with Pillow's composition of every frame (RGBA) beside them.
import os
import subprocess
import sys

from PIL import Image, ImageDraw

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def frames(n, w, h, shift):
    result = []
    for i in range(n):
        im = Image.new('P', (w, h), 0)
        pal = []
        for c in range(256):
            pal += [(c * 7 + i * shift) % 256, (c * 13) % 256, (c * 29 + 5) % 256]
        im.putpalette(pal)
        dr = ImageDraw.Draw(im)
        for k in range(5):
            x, y = (k * 7 + i * 5) % w, (k * 5 + i * 3) % h
            dr.rectangle([x, y, x + 8, y + 6], fill=1 + (k + i) % 11)
        dr.ellipse([i * 2, i, w // 2 + i, h // 2 + i], fill=0)
        result.append(im)
    return result


f = frames(5, 48, 36, 0)
f[0].save(out + '/anim.gif', save_all=True, append_images=f[1:], duration=80, loop=0,
          disposal=[0, 1, 2, 3, 1], transparency=0, optimize=False)
subprocess.run('gifsicle -O2 %s/anim.gif > %s/opt.gif' % (out, out), shell=True, check=True)
f = frames(4, 40, 30, 60)
f[0].save(out + '/local.gif', save_all=True, append_images=f[1:], duration=50, loop=0, optimize=False)
subprocess.run('gifsicle -O3 --disposal=background %s/local.gif > %s/offsets.gif' % (out, out), shell=True,
               check=True)

for name in ('anim.gif', 'opt.gif', 'offsets.gif'):
    im = Image.open(out + '/' + name)
    with open('%s/%s.txt' % (out, name), 'w') as t:
        t.write('%d %d %d\n' % (im.n_frames, im.size[0], im.size[1]))
    for i in range(im.n_frames):
        im.seek(i)
        with open('%s/%s.%d.rgba' % (out, name, i), 'wb') as r:
            r.write(im.convert('RGBA').tobytes())
