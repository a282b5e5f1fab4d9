#!/usr/bin/env python3
"""Prints how many vertices the primitives of a binary glTF file hold.
  glb_vertices.py FILE.glb"""
import json
import struct
import sys

data = open(sys.argv[1], 'rb').read()
gltf = json.loads(data[20:20 + struct.unpack_from('<I', data, 12)[0]])
print(sum(gltf['accessors'][primitive['attributes']['POSITION']]['count']
          for mesh in gltf.get('meshes', []) for primitive in mesh['primitives']))
