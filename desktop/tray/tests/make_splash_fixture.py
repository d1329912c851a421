# A small animated splash picture and Pillow's composition of its frames.
import os
import sys

from PIL import Image, ImageDraw

out = sys.argv[1]
os.makedirs(out + '/brand/images', exist_ok=True)
frames = []
for i in range(3):
    im = Image.new('P', (60, 40), 0)
    im.putpalette([20, 40, 200, 250, 200, 10, 10, 160, 30, 200, 30, 30] + [0] * 756)
    d = ImageDraw.Draw(im)
    d.rectangle([5 + i * 15, 5, 20 + i * 15, 30], fill=1 + i)
    frames.append(im)
frames[0].save(out + '/brand/images/splash.gif', save_all=True, append_images=frames[1:], duration=100, loop=0,
               optimize=False)
im = Image.open(out + '/brand/images/splash.gif')
for i in range(im.n_frames):
    im.seek(i)
    with open('%s/splash.%d.rgb' % (out, i), 'wb') as f:
        f.write(im.convert('RGB').tobytes())
